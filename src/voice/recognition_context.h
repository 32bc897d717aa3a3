#pragma once

#include <QString>
#include <QStringList>

namespace zapum {

struct DesktopWindowInfo;
struct RunningAppSummary;

// The words a listening period should expect besides ordinary English: the names of the running
// apps and the words of the window titles, as the model sees them, plus the command words that
// go with them. Each term is one recogniser token: letters, digits and '_' only (a '_' joins the
// words of a many-word name), in its on-screen spelling, so the transcript shows the name as the
// user sees it.
namespace recognition_context {

inline constexpr int kDefaultTermCap = 200;

// The fixed command words ("switch", "open", "bring", "front", "window", …), lower case.
const QStringList &commandWords();

// Command words first, then each app name (whole, and its words), then window-title words in
// the order given, without repeats (case-insensitively) and at most `cap` terms.
QStringList vocabulary(const QStringList &appNames, const QStringList &windowTitles,
                       int cap = kDefaultTermCap);

// The same from the desktop snapshots: the running apps' names and the windows' titles.
QStringList vocabulary(const QList<RunningAppSummary> &apps, const QList<DesktopWindowInfo> &windows,
                       int cap = kDefaultTermCap);

// How a term is said, as lower-case words and upper-case letter runs to be spelled out:
// "KeePassXC" → kee pass XC, "LibreOffice_Writer" → libre office writer, "qBittorrent" → q
// bittorrent (a lone letter is spelled), "VLC" → VLC, "Qt6" → qt six.
QStringList spokenParts(const QString &term);

// Recogniser output back into on-screen text: '_' between the words of a name becomes a space.
QString displayTranscript(const QString &recognised);

}  // namespace recognition_context

}  // namespace zapum
