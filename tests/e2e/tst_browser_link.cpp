// A real headless Chromium plays the person at the browser: it opens the link page the way the
// app does, presses "Link this desktop", and the zapum:// URL it is sent to signs in at the API.
#include "support/devserver_process.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>
#include <QUrlQuery>

#include <array>

using namespace zapum::test;

class TestBrowserLink : public QObject {
    Q_OBJECT

private:
    DevServerProcess m_server;
    QString m_node;

    // The page URL the app opens: the web base, /desktop/link, then state and redirect.
    QUrl linkUrl(const QString &state) const
    {
        QUrl url = m_server.web(QStringLiteral("desktop/link"));
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("state"), state);
        query.addQueryItem(QStringLiteral("redirect"), QStringLiteral("zapum://auth/callback"));
        url.setQuery(query);
        return url;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_node = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (m_node.isEmpty())
            QSKIP("Node.js is not installed");
        if (!QFileInfo::exists(QStringLiteral("/usr/bin/chromium")) && qEnvironmentVariableIsEmpty("CHROMIUM"))
            QSKIP("chromium is not installed (scripts/install-deps.sh installs it)");
        QVERIFY2(m_server.start(), qPrintable(m_server.output()));
    }

    // Handing the URL to the app (--deliver) is covered by the app's own end-to-end sign-in.
    void linkThisDesktop()
    {
        std::array<quint32, 4> random{};
        QRandomGenerator::system()->fillRange(random.data(), qsizetype(random.size()));
        const QString state =
            QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(random.data()), sizeof random).toHex());
        QProcess browser;
        browser.start(m_node, {QStringLiteral(ZAPUM_SOURCE_DIR "/tests/e2e/browser_link.mjs"),
                               linkUrl(state).toString(QUrl::FullyEncoded), QStringLiteral("--timeout"),
                               QStringLiteral("45")});
        QVERIFY(browser.waitForFinished(60000));
        // Only the reason for a failure, never stdout: that holds a working pairing code.
        QVERIFY2(browser.exitCode() == 0, browser.readAllStandardError().constData());

        const QUrl callback(QString::fromUtf8(browser.readAllStandardOutput().trimmed()));
        QCOMPARE(callback.scheme(), QStringLiteral("zapum"));
        QCOMPARE(callback.host(), QStringLiteral("auth"));
        QCOMPARE(callback.path(), QStringLiteral("/callback"));
        const QUrlQuery query(callback);
        QCOMPARE(query.queryItemValue(QStringLiteral("state")), state);
        const QString code = query.queryItemValue(QStringLiteral("code"));
        QVERIFY(!code.isEmpty());

        const WireReply session = sendJson("POST", m_server.api(QStringLiteral("v1/desktop/exchange")),
                                           {{QStringLiteral("code"), code}, {QStringLiteral("state"), state}});
        QCOMPARE(session.status, 200);
        QCOMPARE(session.json().value(QStringLiteral("email")).toString(), QStringLiteral("dev@zapum.local"));
        const QString accessToken = session.json().value(QStringLiteral("accessToken")).toString();
        QCOMPARE(sendJson("GET", m_server.api(QStringLiteral("v1/desktop/guidance")), {}, accessToken).status, 200);
    }

    void refusedLinkIsReported()
    {
        QProcess browser;
        QUrl url = linkUrl(QStringLiteral("s1"));
        url.setQuery(QStringLiteral("state=s1&redirect=https://example.com/steal"));
        browser.start(m_node, {QStringLiteral(ZAPUM_SOURCE_DIR "/tests/e2e/browser_link.mjs"), url.toString(),
                               QStringLiteral("--timeout"), QStringLiteral("45")});
        QVERIFY(browser.waitForFinished(60000));
        QCOMPARE(browser.exitCode(), 1);
        QVERIFY(browser.readAllStandardOutput().isEmpty());
        const QByteArray reason = browser.readAllStandardError();
        QVERIFY2(reason.contains("zapum://"), reason.constData());
    }
};

QTEST_GUILESS_MAIN(TestBrowserLink)
#include "tst_browser_link.moc"
