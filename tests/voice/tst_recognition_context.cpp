#include "platform/linux/speech/flite_lexicon.h"
#include "voice/recognition_context.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace zapum;

class TestRecognitionContext : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void vocabulary_data()
    {
        QTest::addColumn<QStringList>("apps");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<int>("cap");
        QTest::addColumn<QStringList>("names");  // the terms after the command words

        QTest::newRow("case, punctuation, repeats")
            << QStringList{u"gedit"_s, u"Thunderbird"_s} << QStringList{u"Inbox — Mozilla Thunderbird"_s, u"notes.txt - gedit"_s}
            << 200 << QStringList{u"Gedit"_s, u"Thunderbird"_s, u"Inbox"_s, u"Mozilla"_s, u"Notes"_s};
        QTest::newRow("many-word names are whole and in words")
            << QStringList{u"LibreOffice Writer"_s} << QStringList{} << 200
            << QStringList{u"LibreOffice_Writer"_s, u"LibreOffice"_s, u"Writer"_s};
        QTest::newRow("dotted ids, accents, numbers and short words")
            << QStringList{u"org.gnome.Nautilus"_s} << QStringList{u"Café de l'Été 2024 v4.5"_s} << 200
            << QStringList{u"Gnome"_s, u"Nautilus"_s, u"Cafe"_s, u"Ete"_s};
        QTest::newRow("capped") << QStringList{u"Krita"_s, u"Okular"_s, u"Zotero"_s} << QStringList{u"Geany"_s}
                                << int(recognition_context::commandWords().size()) + 2
                                << QStringList{u"Krita"_s, u"Okular"_s};
    }
    void vocabulary()
    {
        QFETCH(QStringList, apps);
        QFETCH(QStringList, titles);
        QFETCH(int, cap);
        QFETCH(QStringList, names);
        const QStringList terms = recognition_context::vocabulary(apps, titles, cap);
        QCOMPARE(terms.mid(0, recognition_context::commandWords().size()), recognition_context::commandWords());
        QCOMPARE(terms.mid(recognition_context::commandWords().size()), names);
    }

    void spokenParts_data()
    {
        QTest::addColumn<QString>("term");
        QTest::addColumn<QStringList>("parts");
        QTest::newRow("camel case with an acronym") << u"KeePassXC"_s << QStringList{u"kee"_s, u"pass"_s, u"XC"_s};
        QTest::newRow("joined name") << u"LibreOffice_Writer"_s << QStringList{u"libre"_s, u"office"_s, u"writer"_s};
        QTest::newRow("lone letter") << u"qBittorrent"_s << QStringList{u"Q"_s, u"bittorrent"_s};
        QTest::newRow("acronym before a word") << u"XMLHttp"_s << QStringList{u"XML"_s, u"http"_s};
        QTest::newRow("digits") << u"Qt6"_s << QStringList{u"qt"_s, u"six"_s};
    }
    void spokenParts()
    {
        QFETCH(QString, term);
        QFETCH(QStringList, parts);
        QCOMPARE(recognition_context::spokenParts(term), parts);
    }

    // Flite's phones in the acoustic model's set: known words from its lexicon, invented ones
    // from its letter-to-sound rules, upper-case runs spelled out.
    void pronunciation_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("phones");
        QTest::newRow("known") << u"window"_s << u"W IH N D OW"_s;
        QTest::newRow("known, schwa") << u"krita"_s << u"K R IY T AH"_s;
        QTest::newRow("invented") << u"zorblax"_s << u"Z AO R B L AE K S"_s;
        QTest::newRow("invented, foreign") << u"kdenlive"_s << u"K D AH N L AY V"_s;
        QTest::newRow("spelled") << u"VLC"_s << u"V IY EH L S IY"_s;
        QTest::newRow("no letters") << QString() << QString();
    }
    void pronunciation()
    {
        QFETCH(QString, word);
        QFETCH(QString, phones);
        FliteLexicon lexicon;
        QCOMPARE(lexicon.phones(word), phones);
        QCOMPARE(FliteLexicon::toModelPhones({u"pau"_s, u"hh"_s, u"eh1"_s, u"l"_s, u"ax0"_s}), u"HH EH L AH"_s);
    }
};

QTEST_GUILESS_MAIN(TestRecognitionContext)
#include "tst_recognition_context.moc"
