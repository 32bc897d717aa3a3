#pragma once

#include "desktop/desktop_records.h"
#include "platform/workspace.h"

#include <QList>

namespace zapum::RunningAppsSnapshot {

// The running regular apps (this one included), sorted by name.
QList<RunningAppSummary> regularApps(Workspace &workspace);

// The rules behind regularApps over plain records: only regular apps stay; a stable sort by the
// plain order of the canonically composed names (case-sensitive, so "Zoom" before "calendar"),
// a missing name sorting as empty text and reported as "app".
QList<RunningAppSummary> fromApplications(const QList<RunningApplication> &applications);

}  // namespace zapum::RunningAppsSnapshot
