#pragma once

#include <chrono>

namespace zapum {

// Seconds on a clock that never jumps; the default for every component that takes a clock so
// that tests can hand it a fake one.
inline double monotonicSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace zapum
