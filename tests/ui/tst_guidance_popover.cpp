// The guidance popover: its rules as plain functions, then the real window next to the bee under
// Xvfb + openbox, driven with xdotool like a person would.
#include "support/companion_graph.h"
#include "support/desktop_driver.h"
#include "ui/guidance_popover_host.h"
#include "ui/guidance_popover_model.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace zapum;
using test::xdotool;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

PopoverGuidance checklist(const QString &actionUrl = QStringLiteral("https://example.com/setup"))
{
    return {QStringLiteral("Get set up"),
            QStringLiteral("Three steps to a linked workspace"),
            {{QStringLiteral("1"), QStringLiteral("Install the app"), {}, true},
             {QStringLiteral("2"), QStringLiteral("Link your account"), QStringLiteral("From the menu bar"), false}},
            QStringLiteral("Open setup"),
            actionUrl};
}

}  // namespace

class TestGuidancePopover : public QObject {
    Q_OBJECT

    test::OwnWarnings m_warnings;
    std::unique_ptr<test::CompanionGraph> m_graph;

    QQuickView *popoverWindow() const { return m_graph->popoverHost.window(); }
    template <typename T = QQuickItem>
    T *item(const char *name) const
    {
        return qobject_cast<T *>(test::findItem(popoverWindow()->rootObject(), QLatin1String(name)));
    }

    void openByClickingTheBee()
    {
        test::clickAt(m_graph->manager.beeFrame().center().toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(m_graph->bee.popoverOpen(), 3000);
        QVERIFY(popoverWindow());
        QVERIFY(QTest::qWaitForWindowActive(popoverWindow()));
    }

private Q_SLOTS:
    void header_data()
    {
        QTest::addColumn<bool>("linked");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("icon");
        QTest::newRow("signed in") << true << QStringLiteral("ada@example.com")
                                   << QStringLiteral("Signed in as ada@example.com") << true;
        QTest::newRow("signed out") << false << QString() << QStringLiteral("Local assistant") << false;
        QTest::newRow("linked without an e-mail") << true << QString() << QStringLiteral("Local assistant") << false;
    }
    void header()
    {
        QFETCH(bool, linked);
        QFETCH(QString, email);
        QFETCH(QString, text);
        QFETCH(bool, icon);
        const PopoverHeader h = popoverHeader(linked, email);
        QCOMPARE(h.text, text);
        QCOMPARE(h.showsLinkedIcon, icon);
        if (!icon)
            QCOMPARE(h.accessibleLabel, QStringLiteral("Running as local assistant. Sign in to sync with your products."));
    }

    void sendRules_data()
    {
        QTest::addColumn<QString>("draft");
        QTest::addColumn<bool>("working");
        QTest::addColumn<std::optional<QString>>("sent");
        QTest::newRow("a question, trimmed") << QStringLiteral("  where is the invoice?\n") << false
                                             << std::optional<QString>(QStringLiteral("where is the invoice?"));
        QTest::newRow("only spaces") << QStringLiteral("   ") << false << std::optional<QString>();
        QTest::newRow("only line breaks") << QStringLiteral("\n\n") << false << std::optional<QString>();
        QTest::newRow("while an answer is pending") << QStringLiteral("next question") << true << std::optional<QString>();
    }
    void sendRules()
    {
        QFETCH(QString, draft);
        QFETCH(bool, working);
        QFETCH(std::optional<QString>, sent);
        QCOMPARE(questionToSend(draft, working), sent);
    }

    void primaryAction_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QUrl>("target");
        QTest::newRow("web page") << QStringLiteral("Open setup") << QStringLiteral("https://example.com/setup?step=2")
                                  << QUrl(QStringLiteral("https://example.com/setup?step=2"));
        QTest::newRow("no label") << QString() << QStringLiteral("https://example.com") << QUrl();
        QTest::newRow("no address") << QStringLiteral("Open") << QString() << QUrl();
        QTest::newRow("does not parse") << QStringLiteral("Open") << QStringLiteral("https://exa mple.com/%zz") << QUrl();
        QTest::newRow("a local file") << QStringLiteral("Open") << QStringLiteral("file:///etc/passwd") << QUrl();
        QTest::newRow("a made-up scheme") << QStringLiteral("Open") << QStringLiteral("zapum://auth/callback?code=1")
                                          << QUrl();
        QTest::newRow("no host") << QStringLiteral("Open") << QStringLiteral("https:///path") << QUrl();
    }
    void primaryAction()
    {
        QFETCH(QString, label);
        QFETCH(QString, url);
        QFETCH(QUrl, target);
        QCOMPARE(primaryActionTarget(label, url), target);
    }

    void placement_data()
    {
        QTest::addColumn<QRectF>("bee");
        QTest::addColumn<QRectF>("frame");
        QTest::newRow("above the bee, centred") << QRectF(600, 710, 72, 72) << QRectF(456, 404, 360, 300);
        QTest::newRow("no room above: below") << QRectF(600, 40, 72, 72) << QRectF(456, 118, 360, 300);
        QTest::newRow("held inside on the left") << QRectF(10, 710, 72, 72) << QRectF(0, 404, 360, 300);
        QTest::newRow("held inside on the right") << QRectF(1250, 710, 72, 72) << QRectF(920, 404, 360, 300);
    }
    void placement()
    {
        QFETCH(QRectF, bee);
        QFETCH(QRectF, frame);
        QCOMPARE(popoverFrame(QSizeF(360, 300), bee, QRectF(0, 22, 1280, 778)), frame);
    }

    void modelActions()
    {
        QStringList asked, copied;
        QList<QUrl> opened;
        int clears = 0;
        GuidancePopoverModel model({[&](const QString &q) { asked << q; }, [&] { ++clears; },
                                    [&](const QUrl &u) { opened << u; }, [&](const QString &t) { copied << t; }});
        QVERIFY(model.submit(QStringLiteral(" what changed? ")));
        QVERIFY(!model.submit(QStringLiteral("  ")));
        model.setAskState(true, std::nullopt);
        QVERIFY(!model.submit(QStringLiteral("another")));
        QCOMPARE(asked, QStringList{QStringLiteral("what changed?")});

        model.setAskState(false, PopoverAnswer{true, QStringLiteral("The backend did not answer.")});
        model.copyAnswer();
        QVERIFY(copied.isEmpty());
        model.setAskState(false, PopoverAnswer{false, QStringLiteral("Two invoices.")});
        model.copyAnswer();
        QCOMPARE(copied, QStringList{QStringLiteral("Two invoices.")});
        model.askAgain();
        QCOMPARE(clears, 1);

        model.setGuidance(checklist(QStringLiteral("javascript:alert(1)")));
        QVERIFY(!model.hasPrimaryAction());
        model.openPrimaryAction();
        QVERIFY(opened.isEmpty());
        model.setGuidance(checklist());
        QVERIFY(model.hasPrimaryAction());
        model.openPrimaryAction();
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.com/setup"))});
        QCOMPARE(model.steps().size(), 2);
        QCOMPARE(model.steps().at(1).toMap().value(QStringLiteral("detail")).toString(), QStringLiteral("From the menu bar"));
    }

    // From here on: the real window.
    void init()
    {
        if (QByteArray(QTest::currentTestFunction()).startsWith("window")
            && qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
            QSKIP("needs the test desktop (scripts/test-session.sh)");
    }

    void cleanup()
    {
        m_graph.reset();
        const QStringList warnings = m_warnings.take();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    void windowOpensNextToTheBeeAndEscapeCloses()
    {
        startWindowTest();
        m_graph->popover.setAccount(true, QStringLiteral("ada@example.com"));
        QSignalSpy visibility(&m_graph->notifications, &AppNotifications::popoverVisibilityChanged);
        openByClickingTheBee();
        QCOMPARE(item("header")->property("text").toString(), QStringLiteral("Signed in as ada@example.com"));
        const QRect popover = popoverWindow()->geometry();
        const QRectF bee = m_graph->manager.beeFrame();
        QVERIFY(popover.bottom() < bee.top());
        QVERIFY(qAbs(popover.center().x() - bee.center().x()) <= 2);
        QVERIFY(m_graph->manager.isPatrolSuspended());

        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY_WITH_TIMEOUT(!m_graph->bee.popoverOpen(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!popoverWindow()->isVisible(), 3000);
        QCOMPARE(visibility.count(), 2);
        QCOMPARE(visibility.last().at(0).toBool(), false);
        QVERIFY(!m_graph->manager.isPatrolSuspended());
    }

    void windowClosesOnASecondClickOnTheBee()
    {
        startWindowTest();
        openByClickingTheBee();
        QTest::qWait(200);
        test::clickAt(m_graph->manager.beeFrame().center().toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(!m_graph->bee.popoverOpen(), 3000);
        QTest::qWait(300);
        QVERIFY(!m_graph->bee.popoverOpen());  // and it did not bounce open again
    }

    void windowSendsTypedQuestions()
    {
        startWindowTest();
        openByClickingTheBee();
        auto *field = item("questionField");
        QVERIFY(field);
        QTRY_VERIFY_WITH_TIMEOUT(field->hasActiveFocus(), 3000);
        xdotool({QStringLiteral("type"), QStringLiteral("   ")});
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        QTest::qWait(200);
        QVERIFY(m_graph->questions.isEmpty());
        QCOMPARE(item("sendButton")->isEnabled(), false);

        xdotool({QStringLiteral("type"), QStringLiteral("which tickets are open")});
        QTRY_COMPARE_WITH_TIMEOUT(item("sendButton")->isEnabled(), true, 3000);
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        QTRY_COMPARE_WITH_TIMEOUT(m_graph->questions, QStringList{QStringLiteral("which tickets are open")}, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(field->property("text").toString(), QString(), 3000);

        // Pending: the thinking row shows, and Return sends nothing more.
        m_graph->popover.setAskState(true, std::nullopt);
        QVERIFY(item("thinking")->isVisible());
        xdotool({QStringLiteral("type"), QStringLiteral("and closed ones")});
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        QTest::qWait(200);
        QCOMPARE(m_graph->questions.size(), 1);
        QCOMPARE(item("sendButton")->isEnabled(), false);

        m_graph->popover.setAskState(false, PopoverAnswer{false, QStringLiteral("Three tickets are open.")});
        QVERIFY(item("answer")->isVisible());
        QVERIFY(item("copyButton")->isVisible());
        QMetaObject::invokeMethod(item("copyButton"), "clicked");
        QCOMPARE(m_graph->copied, QStringList{QStringLiteral("Three tickets are open.")});

        m_graph->popover.setAskState(false, PopoverAnswer{true, QStringLiteral("The backend could not be reached.")});
        QVERIFY(item("error")->isVisible());
        QVERIFY(!item("copyButton")->isVisible());
        QVERIFY(item("askAgainButton")->isVisible());
        QMetaObject::invokeMethod(item("askAgainButton"), "clicked");
        QCOMPARE(m_graph->responseClears, 1);
        QTRY_VERIFY_WITH_TIMEOUT(field->hasActiveFocus(), 3000);
    }

    void windowShowsTheChecklistAndItsAction()
    {
        startWindowTest();
        m_graph->popover.setGuidance(checklist());
        openByClickingTheBee();
        auto *activityTab = item("tabActivity");
        QVERIFY(activityTab);
        const QPointF tabCentre = activityTab->mapToGlobal(QPointF(activityTab->width() / 2, activityTab->height() / 2));
        test::clickAt(tabCentre.toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(item("guidanceList")->isVisible(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(item("primaryAction")->isVisible(), 3000);
        QTest::qWait(300);
        const QString shotPath = QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/guidance-popover.png");
        QVERIFY(popoverWindow()->grabWindow().save(shotPath));
        qInfo("screenshot: %s", qPrintable(shotPath));

        auto *button = item("primaryAction");
        const QPointF centre = button->mapToGlobal(QPointF(button->width() / 2, button->height() / 2));
        test::clickAt(centre.toPoint());
        QTRY_COMPARE_WITH_TIMEOUT(m_graph->openedUrls, QList<QUrl>{QUrl(QStringLiteral("https://example.com/setup"))}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_graph->bee.popoverOpen(), 3000);

        // A pushed checklist whose action is not a web page gets no button.
        m_graph->popover.setGuidance(checklist(QStringLiteral("file:///home")));
        QVERIFY(!m_graph->popover.hasPrimaryAction());
    }

    void windowClosesWhenTheUserTurnsAway()
    {
        startWindowTest();
        openByClickingTheBee();
        QWindow other;
        other.setGeometry(50, 50, 200, 150);
        other.show();
        other.requestActivate();
        QTRY_VERIFY_WITH_TIMEOUT(!m_graph->bee.popoverOpen(), 3000);
    }

private:
    void startWindowTest()
    {
        m_warnings.take();
        CompanionTimings still;
        still.patrol.firstPauseMin = still.patrol.firstPauseMax = 1000.0;  // a bee that stays put
        m_graph = std::make_unique<test::CompanionGraph>(still, QString(), false);
        m_graph->manager.setup();
        QVERIFY(QTest::qWaitForWindowExposed(m_graph->manager.panel()));
        QTRY_COMPARE_WITH_TIMEOUT(m_graph->manager.panel()->geometry(), m_graph->manager.panelFrame().toRect(), 5000);
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestGuidancePopover test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_guidance_popover.moc"
