#include "desktop/running_apps_snapshot.h"

#include <algorithm>

namespace zapum::RunningAppsSnapshot {

QList<RunningAppSummary> regularApps(Workspace &workspace)
{
    return fromApplications(workspace.runningApplications());
}

QList<RunningAppSummary> fromApplications(const QList<RunningApplication> &applications)
{
    struct Keyed {
        QList<uint> key;  // code points, so names beyond the BMP do not sort by their surrogates
        const RunningApplication *app;
    };
    QList<Keyed> keyed;
    for (const RunningApplication &app : applications) {
        if (app.policy != ActivationPolicy::Regular)
            continue;
        keyed.append({app.localizedName.value_or(QString()).normalized(QString::NormalizationForm_C).toUcs4(), &app});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) { return a.key < b.key; });

    QList<RunningAppSummary> apps;
    apps.reserve(keyed.size());
    for (const Keyed &entry : keyed) {
        const RunningApplication &app = *entry.app;
        apps.append({app.pid, app.localizedName.value_or(QStringLiteral("app")), app.bundleId, app.isActive});
    }
    return apps;
}

}  // namespace zapum::RunningAppsSnapshot
