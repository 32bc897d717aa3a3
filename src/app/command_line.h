#pragma once

#include <QString>
#include <QStringList>

namespace zapum {

// What the program's arguments ask for. A zapum: URL (the browser's sign-in callback) and the
// toolkit's own single-dash options (-platform, -style …) pass through to the run.
struct CommandLine {
    enum class Action { Run, PrintVersion, PrintHelp, Refuse };
    Action action = Action::Run;
    // Started by the desktop at log-in: come up without taking the keyboard.
    bool atLogin = false;
    // For Refuse: one line saying what was wrong.
    QString error;
};

// `arguments` includes the program name, as QCoreApplication::arguments() does.
CommandLine parseCommandLine(const QStringList &arguments);
QString commandLineHelp();

}  // namespace zapum
