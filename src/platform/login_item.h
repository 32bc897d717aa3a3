#pragma once

#include "foundation/failure.h"

#include <memory>

namespace zapum {

// Whether the desktop starts the app when the user logs in. Such a start passes the at-login
// flag, so the app comes up without taking the keyboard (see AppDelegate).
class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() const = 0;
    // A failure carries a sentence for the user; the state is then unchanged.
    virtual Status setEnabled(bool enabled) = 0;
};

// The program flag the desktop's login start passes.
inline constexpr char kAtLoginFlag[] = "--autostart";

// Implemented by the platform back-end, for the program that is running now.
std::unique_ptr<LoginItem> makeLoginItem();

}  // namespace zapum
