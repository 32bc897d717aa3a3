#pragma once

#include <csignal>
#include <sys/resource.h>

namespace zapum::test {

// Caps the size of the files this process writes, as a full disk or quota would: a write past the
// cap fails with EFBIG (SIGXFSZ is ignored meanwhile). Root is bound by it too. Lifted again when
// it goes; keep it to the one call under test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit capped{bytes, m_saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &capped);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

}  // namespace zapum::test
