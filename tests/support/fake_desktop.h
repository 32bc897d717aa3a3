#pragma once

#include "platform/input_synthesizer.h"
#include "platform/screen_capture.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

#include <QImage>
#include <QList>
#include <QPointF>

namespace zapum::test {

// Programmable stand-ins for the desktop back-ends, for testing the rules above them.

class FakeWindowServer final : public WindowServer {
public:
    QList<WindowServerEntry> onScreenWindows() override { return entries; }
    QList<WindowServerEntry> entries;
};

class FakeWorkspace final : public Workspace {
public:
    QList<RunningApplication> runningApplications() override { return apps; }
    bool activateApp(qint32 pid) override
    {
        activated.append(pid);
        return true;
    }
    Status openPrivacySettings(PrivacyPane) override { return Done{}; }

    QList<RunningApplication> apps;
    QList<qint32> activated;
};

class FakeScreenCapture final : public ScreenCapture {
public:
    bool hasAccess() override
    {
        ++accessChecks;
        return access;
    }
    void requestAccess() override { ++requests; }
    QImage captureMainDisplay() override
    {
        ++captures;
        return image;
    }
    QString refusalMessage() const override { return QStringLiteral("Capture refused here."); }

    bool access = true;
    QImage image;
    int accessChecks = 0;
    int requests = 0;
    int captures = 0;
};

class FakeInputSynthesizer final : public InputSynthesizer {
public:
    bool isTrusted() override
    {
        ++trustChecks;
        return trusted;
    }
    void requestTrust() override { ++requests; }
    bool postLeftClick(QPointF point) override
    {
        if (!trusted)
            return false;
        clicks.append(point);
        return true;
    }
    QString untrustedMessage() const override { return trusted ? QString() : QStringLiteral("Not trusted here."); }

    bool trusted = true;
    QList<QPointF> clicks;
    int trustChecks = 0;
    int requests = 0;
};

}  // namespace zapum::test
