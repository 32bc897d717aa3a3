#include "platform/linux/desktop_entries.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace zapum;

Q_DECLARE_METATYPE(zapum::AppHints)
Q_DECLARE_METATYPE(std::optional<zapum::AppIdentity>)

namespace {

void writeEntry(const QString &folder, const QString &name, const QByteArray &body)
{
    QDir().mkpath(QFileInfo(folder + u'/' + name).path());
    QFile file(folder + u'/' + name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(body);
}

std::optional<AppIdentity> identity(const QString &name, const QString &id = {})
{
    return AppIdentity{name, id.isEmpty() ? std::nullopt : std::optional<QString>(id)};
}

}  // namespace

class TestDesktopEntries : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QString user() const { return m_root.filePath(QStringLiteral("user")); }
    QString system() const { return m_root.filePath(QStringLiteral("system")); }

private Q_SLOTS:
    void initTestCase()
    {
        writeEntry(system(), u"mail.desktop"_qs, "[Desktop Entry]\nType=Application\nName=Mail\nExec=mailer\n");
        writeEntry(user(), u"mail.desktop"_qs, "[Desktop Entry]\nType=Application\nName=My Mail\n");
        writeEntry(system(), u"org.example.Viewer.desktop"_qs,
                   "# comment\n[Desktop Entry]\nType=Application\nName=Viewer\nName[de]=Betrachter\n"
                   "StartupWMClass=viewer-main\nExec=viewer %U\n\n[Desktop Action New]\nName=New Window\n");
        writeEntry(system(), u"vendor/tool.desktop"_qs, "[Desktop Entry]\nType=Application\nName=Vendor Tool\n");
        writeEntry(system(), u"hidden.desktop"_qs, "[Desktop Entry]\nType=Application\nName=Hidden App\n");
        writeEntry(user(), u"hidden.desktop"_qs, "[Desktop Entry]\nType=Application\nName=Hidden App\nHidden=true\n");
        writeEntry(system(), u"calc.desktop"_qs,
                   "[Desktop Entry]\nType=Application\nName=Calculator\nExec=env LANG=C \"/usr/bin/gcalc\" --x\n");
        writeEntry(system(), u"py-a.desktop"_qs, "[Desktop Entry]\nType=Application\nName=A\nExec=python3 a.py\n");
        writeEntry(system(), u"py-b.desktop"_qs, "[Desktop Entry]\nType=Application\nName=B\nExec=python3 b.py\n");
    }

    void identify_data()
    {
        QTest::addColumn<AppHints>("hints");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<std::optional<AppIdentity>>("expected");

        const QString viewerId = QStringLiteral("org.example.Viewer.desktop");
        QTest::newRow("StartupWMClass") << AppHints{{}, u"viewer-main"_qs, {}} << QString()
                                        << identity(u"Viewer"_qs, viewerId);
        QTest::newRow("localized name") << AppHints{{}, u"viewer-main"_qs, {}} << u"de_DE"_qs
                                        << identity(u"Betrachter"_qs, viewerId);
        QTest::newRow("file id from a subfolder") << AppHints{u"vendor-tool"_qs, u"Other"_qs, {}} << QString()
                                                  << identity(u"Vendor Tool"_qs, u"vendor-tool.desktop"_qs);
        QTest::newRow("user folder wins") << AppHints{{}, u"mail"_qs, u"mailer"_qs} << QString()
                                          << identity(u"My Mail"_qs, u"mail.desktop"_qs);
        QTest::newRow("hidden entry hides the system one") << AppHints{{}, u"hidden"_qs, {}} << QString()
                                                           << identity(u"hidden"_qs);
        QTest::newRow("program through env and quotes") << AppHints{{}, {}, u"gcalc"_qs} << QString()
                                                        << identity(u"Calculator"_qs, u"calc.desktop"_qs);
        QTest::newRow("program of several entries") << AppHints{{}, {}, u"python3"_qs} << QString()
                                                    << identity(u"python3"_qs);
        QTest::newRow("class before instance") << AppHints{u"inst"_qs, u"Cls"_qs, u"proc"_qs} << QString()
                                               << identity(u"Cls"_qs);
        QTest::newRow("nothing known") << AppHints{} << QString() << std::optional<AppIdentity>();
    }

    void identify()
    {
        QFETCH(AppHints, hints);
        QFETCH(QString, locale);
        QFETCH(std::optional<AppIdentity>, expected);

        DesktopEntryIndex index({user(), system(), m_root.filePath(QStringLiteral("missing"))}, locale);
        QCOMPARE(index.identify(hints), expected);
    }

    void newEntriesArePickedUp()
    {
        QTemporaryDir folder;
        DesktopEntryIndex index({folder.path()}, QString());
        QCOMPARE(index.identify({{}, u"late"_qs, {}}), identity(u"late"_qs));
        QTest::qWait(20);  // a folder's time stamp has millisecond resolution here
        writeEntry(folder.path(), u"late.desktop"_qs, "[Desktop Entry]\nType=Application\nName=Late App\n");
        QCOMPARE(index.identify({{}, u"late"_qs, {}}), identity(u"late"_qs));
        index.refreshIfChanged();
        QCOMPARE(index.identify({{}, u"late"_qs, {}}), identity(u"Late App"_qs, u"late.desktop"_qs));
    }

    void processNames()
    {
        // Longer than the kernel's 15 characters, so the command line has to complete it.
        QCOMPARE(processName(qint32(QCoreApplication::applicationPid())), QStringLiteral("tst_desktop_entries"));
        QCOMPARE(processName(0), QString());
        QCOMPARE(processName(std::numeric_limits<qint32>::max()), QString());
    }
};

QTEST_GUILESS_MAIN(TestDesktopEntries)
#include "tst_desktop_entries.moc"
