#pragma once

#include <QString>
#include <QtGlobal>

namespace zapum {

// What this desktop calls the things the app's sentences name: the machine, the strip of screen
// the bee lives on, and the modifier keys one can hold to talk. Texts for the user and the
// model's instructions take these words from here and never spell them themselves, so another
// back-end says "Dock" or "Right Option" by changing this one record.
struct PlatformWords {
    QString computer;       // "the user's computer", "a local guide on your computer"
    QString taskbar;        // "Center above the taskbar"
    QString screenBottom;   // "Stroll near the bottom of the screen"
    // The four keys a user may hold to talk, by their modifier_keys code.
    QString rightOption;    // the default talk key
    QString rightControl;
    QString rightCommand;
    QString rightShift;
    // What the layout makes of the Right Option key when that key types characters instead.
    QString characterShift;

    // The name of one of the four talk keys; the default key's for any other code.
    QString keyName(quint16 keyCode) const;
};

// Implemented by the platform back-end.
const PlatformWords &platformWords();

}  // namespace zapum
