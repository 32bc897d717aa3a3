#pragma once

#include <QPointF>
#include <QString>

namespace zapum {

// Posts synthetic input to the desktop. Points are in the window server's global space.
class InputSynthesizer {
public:
    virtual ~InputSynthesizer() = default;

    // Whether this process may post input events now.
    virtual bool isTrusted() = 0;
    // Shows the system's trust prompt where there is one.
    virtual void requestTrust() = 0;
    // One left-button press and release at the point; false when nothing was posted.
    virtual bool postLeftClick(QPointF point) = 0;
    // One sentence for the user on why this process is not trusted (empty when it is).
    virtual QString untrustedMessage() const = 0;
};

}  // namespace zapum
