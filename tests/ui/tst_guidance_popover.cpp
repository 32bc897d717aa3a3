// The guidance popover: its rules as plain functions, then the real window next to the bee under
// Xvfb + openbox, driven with xdotool like a person would.
#include "support/companion_graph.h"
#include "support/desktop_driver.h"
#include "ui/guidance_popover_host.h"
#include "ui/guidance_popover_model.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace zapum;
using test::xdotool;

namespace {

PopoverGuidance checklist()
{
    return {QStringLiteral("Get set up"),
            QStringLiteral("Three steps to a linked workspace"),
            {{QStringLiteral("1"), QStringLiteral("Install the app"), {}, true},
             {QStringLiteral("2"), QStringLiteral("Link your account"), QStringLiteral("From the menu bar"), false}},
            QStringLiteral("Open setup"),
            QStringLiteral("https://example.com/setup")};
}

}  // namespace

class TestGuidancePopover : public QObject {
    Q_OBJECT

    test::OwnWarnings m_warnings;
    std::unique_ptr<test::CompanionGraph> m_graph;

    QQuickView *popoverWindow() const { return m_graph->popoverHost.window(); }
    QQuickItem *item(const char *name) const
    {
        return test::findItem(popoverWindow()->rootObject(), QLatin1String(name));
    }
    bool closed() const { return !m_graph->bee.popoverOpen() && !popoverWindow()->isVisible(); }

    void clickItem(const char *name)
    {
        QQuickItem *target = item(name);
        test::clickAt(target->mapToGlobal(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    }

    void openByClickingTheBee()
    {
        test::clickAt(m_graph->manager.beeFrame().center().toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(m_graph->bee.popoverOpen(), 3000);
        QVERIFY(QTest::qWaitForWindowActive(popoverWindow()));
    }

private Q_SLOTS:
    void rules()
    {
        QCOMPARE(popoverHeader(true, u"ada@example.com"_qs).text, u"Signed in as ada@example.com"_qs);
        const PopoverHeader local = popoverHeader(true, QString());  // linked, but no e-mail to show
        QCOMPARE(local.text, u"Local assistant"_qs);
        QVERIFY(!local.showsLinkedIcon);
        QCOMPARE(local.accessibleLabel, u"Running as local assistant. Sign in to sync with your products."_qs);

        QCOMPARE(questionToSend(u"  where is the invoice?\n"_qs, false), std::optional<QString>(u"where is the invoice?"_qs));
        QCOMPARE(questionToSend(u" \n\n "_qs, false), std::nullopt);
        QCOMPARE(questionToSend(u"next question"_qs, true), std::nullopt);  // an answer is pending

        const QSizeF size(360, 300);
        const QRectF screen(0, 22, 1280, 778);
        QCOMPARE(popoverFrame(size, QRectF(600, 710, 72, 72), screen), QRectF(456, 404, 360, 300));  // above, centred
        QCOMPARE(popoverFrame(size, QRectF(600, 40, 72, 72), screen), QRectF(456, 118, 360, 300));   // no room: below
        QCOMPARE(popoverFrame(size, QRectF(1250, 710, 72, 72), screen), QRectF(920, 404, 360, 300));  // held inside
    }

    void primaryActionOnlyOpensWebPages_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QUrl>("target");
        const QString setup = QStringLiteral("https://example.com/setup?step=2");
        QTest::newRow("web page") << QStringLiteral("Open setup") << setup << QUrl(setup);
        QTest::newRow("no label") << QString() << setup << QUrl();
        QTest::newRow("a local file") << QStringLiteral("Open") << QStringLiteral("file:///etc/passwd") << QUrl();
        QTest::newRow("a made-up scheme") << QStringLiteral("Open") << QStringLiteral("zapum://auth/callback?code=1")
                                          << QUrl();
        QTest::newRow("no host") << QStringLiteral("Open") << QStringLiteral("https:///path") << QUrl();
    }
    void primaryActionOnlyOpensWebPages()
    {
        QFETCH(QString, label);
        QFETCH(QString, url);
        QTEST(primaryActionTarget(label, url), "target");
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

    void windowOpensNextToTheBeeAndClosesThreeWays()
    {
        startWindowTest();
        m_graph->popover.setAccount(true, QStringLiteral("ada@example.com"));
        openByClickingTheBee();
        QCOMPARE(item("header")->property("text").toString(), QStringLiteral("Signed in as ada@example.com"));
        const QRect popover = popoverWindow()->geometry();
        const QRectF bee = m_graph->manager.beeFrame();
        QVERIFY(popover.bottom() < bee.top());
        QVERIFY(qAbs(popover.center().x() - bee.center().x()) <= 2);

        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY_WITH_TIMEOUT(closed(), 3000);

        // So does a second click on the bee, and it stays closed: the next click opens it again.
        openByClickingTheBee();
        test::clickAt(m_graph->manager.beeFrame().center().toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(closed(), 3000);

        // So does turning to another window.
        openByClickingTheBee();
        QWindow other;
        other.setGeometry(50, 50, 200, 150);
        other.show();
        other.requestActivate();
        QTRY_VERIFY_WITH_TIMEOUT(!m_graph->bee.popoverOpen(), 3000);
    }

    void windowSendsTypedQuestions()
    {
        startWindowTest();
        openByClickingTheBee();
        QQuickItem *field = item("questionField");
        QTRY_VERIFY_WITH_TIMEOUT(field->hasActiveFocus(), 3000);
        // Blank or pending questions are not sent (questionToSend above); here the button follows.
        field->setProperty("text", QStringLiteral("   "));
        QCOMPARE(item("sendButton")->isEnabled(), false);
        field->setProperty("text", QString());
        xdotool({QStringLiteral("type"), QStringLiteral("which tickets are open")});
        QTRY_COMPARE_WITH_TIMEOUT(item("sendButton")->isEnabled(), true, 3000);
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        QTRY_COMPARE_WITH_TIMEOUT(m_graph->questions, QStringList{QStringLiteral("which tickets are open")}, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(field->property("text").toString(), QString(), 3000);

        m_graph->popover.setAskState(true, std::nullopt);
        QVERIFY(item("thinking")->isVisible());
        field->setProperty("text", QStringLiteral("and closed ones"));
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

        // Past four lines the field stops growing and scrolls with the cursor.
        field->setProperty("text", QStringList(8, QStringLiteral("line")).join(u'\n'));
        field->setProperty("cursorPosition", field->property("length"));
        QQuickItem *row = item("questionRow");
        const auto cursorInRow = [&] { return field->mapRectToItem(row, field->property("cursorRectangle").toRectF()); };
        QTRY_VERIFY2(cursorInRow().bottom() <= row->height() && cursorInRow().top() >= 0,
                     qPrintable(QStringLiteral("%1 in %2").arg(cursorInRow().bottom()).arg(row->height())));
        QVERIFY(row->height() < 6 * cursorInRow().height());
    }

    void windowShowsTheChecklistAndItsAction()
    {
        startWindowTest();
        m_graph->popover.setGuidance(checklist());
        openByClickingTheBee();
        clickItem("tabActivity");
        QTRY_VERIFY_WITH_TIMEOUT(item("guidanceList")->isVisible(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(item("primaryAction")->isVisible(), 3000);
        QVERIFY(popoverWindow()->grabWindow().save(QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/guidance-popover.png")));

        clickItem("primaryAction");
        QTRY_COMPARE_WITH_TIMEOUT(m_graph->openedUrls, QList<QUrl>{QUrl(QStringLiteral("https://example.com/setup"))}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_graph->bee.popoverOpen(), 3000);
    }

private:
    void startWindowTest()
    {
        m_warnings.take();
        CompanionTimings still;
        still.patrol.firstPauseMin = still.patrol.firstPauseMax = 1000.0;  // a bee that stays put
        m_graph = std::make_unique<test::CompanionGraph>(still, QString());
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
