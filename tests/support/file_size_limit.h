#pragma once

#include <csignal>
#include <sys/resource.h>

namespace zapum::test {

// Caps the size of the files this process writes, as a full disk would (root included): a write
// past it fails with EFBIG, SIGXFSZ ignored meanwhile. Keep it around the one call under test.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) : handler(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit capped{bytes, saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &capped);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }
    rlimit saved{};
    void (*handler)(int);
};

}  // namespace zapum::test
