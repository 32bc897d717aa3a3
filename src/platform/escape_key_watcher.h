#pragma once

#include <QObject>

#include <memory>

namespace zapum {

// Notices the Escape key anywhere on the desktop while watching, without taking the keyboard
// from the focused app (which still gets the key too). Used only while something on screen
// offers Escape as a way out, so keys are not observed the rest of the time.
class EscapeKeyWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // False when the desktop offers no way to observe keys without grabbing them.
    virtual bool start() = 0;
    virtual void stop() = 0;

Q_SIGNALS:
    void escapePressed();
};

std::unique_ptr<EscapeKeyWatcher> createEscapeKeyWatcher();

}  // namespace zapum
