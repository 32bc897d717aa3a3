#pragma once

#include <QImage>
#include <QString>

namespace zapum {

class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;

    // Whether a capture would succeed now, without prompting the user.
    virtual bool hasAccess() = 0;
    // Asks the system for access where it has a way to ask; the answer shows in hasAccess() later.
    virtual void requestAccess() = 0;
    // The whole main display at its pixel size; a null image when the system refuses.
    virtual QImage captureMainDisplay() = 0;
    // One sentence for the user after a refused capture: why, and what to do about it.
    virtual QString refusalMessage() const = 0;
};

}  // namespace zapum
