#pragma once

#include "backend/ask_service.h"
#include "backend/auth_client.h"
#include "backend/browser_auth_coordinator.h"
#include "backend/environment_store.h"
#include "backend/guidance_service.h"
#include "backend/memory_service.h"
#include "backend/remote_assistant_coordinator.h"
#include "backend/session_controller.h"
#include "foundation/settings_storage.h"
#include "support/fake_http_server.h"
#include "support/memory_secret_store.h"
#include "support/recording_url_opener.h"
#include "voice/voice_keychain.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace zapum::test {

// Time-outs short enough that a test which gets one wrong fails fast instead of hanging.
struct BackendGraphTimings {
    AuthClientTimings auth{{std::chrono::seconds(3), std::chrono::seconds(5)}};
    BrowserAuthTimings browser{std::chrono::seconds(10), {std::chrono::seconds(3), std::chrono::seconds(5)}};
    GuidanceTimings guidance{{std::chrono::seconds(3), std::chrono::seconds(5)}};
    AskTimings ask{{std::chrono::seconds(3), std::chrono::seconds(5)}, std::chrono::milliseconds(600)};
    MemoryTimings memory{{std::chrono::seconds(3), std::chrono::seconds(5)}};
    RemoteAssistantTimings remote{std::chrono::seconds(60), {std::chrono::seconds(3), std::chrono::seconds(5)}};
};

// The backend services wired as the app wires them, over a private settings file, an in-memory
// secret store and a URL opener that only records.
class BackendGraph {
public:
    explicit BackendGraph(BackendGraphTimings timings = {});

    // A session made against `apiBase` (absent: a local identity).
    static ZaPumUserSession userSession(const std::optional<QString> &apiBase, const QString &userId = QStringLiteral("user-1"),
                                        const QString &token = QStringLiteral("tok-secret"));
    // Signs in the way a relaunch would: the record in the secret store, then restore().
    void signIn(const ZaPumUserSession &session);
    // A browser sign-in against `apiBase`, answered with a callback carrying `query`, in which
    // @STATE@ stands for the state of the link that was opened.
    void signInThroughBrowser(const QString &apiBase, QString query);

    QTemporaryDir dir;
    SettingsStorage settings;
    MemorySecretStore secrets;
    VoiceKeychain voiceKeychain{secrets};
    KeychainHelper sessionKeychain{secrets};
    RecordingUrlOpener opener;
    EnvironmentStore environment{settings};
    AuthClient auth;
    BrowserAuthCoordinator browser;
    SessionController sessions;
    GuidanceService guidance;
    AskService ask;
    MemoryService memory;
    RemoteAssistantCoordinator remote;
    int panelPresented = 0;
    int panelClosed = 0;
};

// The URL of a server's root as the API base text users type (no trailing slash).
inline QString apiBaseOf(const QUrl &serverBase)
{
    return serverBase.toString(QUrl::StripTrailingSlash);
}

// What a backend request must carry. Content-Type is expected exactly when a JSON body is.
struct ExpectedRequest {
    QByteArray method;
    QByteArray target;
    std::optional<QByteArray> authorization;  // absent: no Authorization header at all
    std::optional<QJsonObject> json;          // absent: no body
};

// Empty when the request is as expected, else one line per difference (for QCOMPARE with "").
QString requestMismatch(const RecordedRequest &request, const ExpectedRequest &expected);

}  // namespace zapum::test
