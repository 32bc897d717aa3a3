#pragma once

#include "platform/input_synthesizer.h"

#include <memory>

namespace zapum::x11 {

class X11Display;

// Clicks through the XTEST extension; a process is trusted when the server offers it (and the
// session is not Wayland, where XTEST would reach only other X clients).
class X11InputSynthesizer final : public InputSynthesizer {
public:
    explicit X11InputSynthesizer(std::shared_ptr<X11Display> display);

    bool isTrusted() override;
    void requestTrust() override {}  // X11 has nobody to ask
    bool postLeftClick(QPointF point) override;
    QString untrustedMessage() const override;

private:
    std::shared_ptr<X11Display> m_display;
};

}  // namespace zapum::x11
