#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace zapum {

// Why the app cannot show itself on this desktop, as one sentence for the terminal; nothing when
// it can. Checked before the GUI toolkit starts, because that would abort with its own message.
std::optional<QString> desktopUnavailableReason();

// Turns the process's termination signals (SIGTERM, SIGINT, SIGHUP) into a queued Qt signal so
// the app can quit through its ordinary path.
class TerminationWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
Q_SIGNALS:
    void terminationRequested(int signalNumber);
};

std::unique_ptr<TerminationWatcher> watchTermination();

}  // namespace zapum
