#include "voice/recognition_context.h"

#include "desktop/desktop_records.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace zapum::recognition_context {

namespace {

// Parts of reverse-domain ids and file names that nobody says when naming a window.
bool isNoise(const QString &lowerWord)
{
    static const QSet<QString> noise{QStringLiteral("org"),  QStringLiteral("com"),     QStringLiteral("net"),
                                     QStringLiteral("io"),   QStringLiteral("www"),     QStringLiteral("desktop"),
                                     QStringLiteral("http"), QStringLiteral("https"),   QStringLiteral("html"),
                                     QStringLiteral("txt"),  QStringLiteral("pdf"),     QStringLiteral("png"),
                                     QStringLiteral("jpg"),  QStringLiteral("the"),     QStringLiteral("and")};
    return noise.contains(lowerWord);
}

// ASCII words of a label: accents dropped, everything but letters and digits separates words.
QStringList asciiWords(const QString &text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QStringList words;
    QString word;
    for (const QChar c : decomposed) {
        if (c.isMark())
            continue;
        if (c.unicode() < 128 && c.isLetterOrNumber()) {
            word += c;
        } else if (!word.isEmpty()) {
            words.append(word);
            word.clear();
        }
    }
    if (!word.isEmpty())
        words.append(word);
    return words;
}

QString asTerm(QString word)
{
    if (!word.isEmpty() && word[0].isLower())
        word[0] = word[0].toUpper();
    return word;
}

bool isDigits(const QString &word)
{
    return std::all_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); });
}

class TermList {
public:
    explicit TermList(int cap) : m_cap(cap) {}
    bool full() const { return m_terms.size() >= m_cap; }
    void add(const QString &term)
    {
        if (term.isEmpty() || full())
            return;
        const QString key = term.toLower();
        if (m_seen.contains(key))
            return;
        m_seen.insert(key);
        m_terms.append(term);
    }
    QStringList terms() const { return m_terms; }

private:
    int m_cap;
    QSet<QString> m_seen;
    QStringList m_terms;
};

}  // namespace

const QStringList &commandWords()
{
    static const QStringList words{
        QStringLiteral("switch"), QStringLiteral("open"),       QStringLiteral("bring"),  QStringLiteral("front"),
        QStringLiteral("window"), QStringLiteral("windows"),    QStringLiteral("click"),  QStringLiteral("screenshot"),
        QStringLiteral("show"),   QStringLiteral("close"),      QStringLiteral("minimize"), QStringLiteral("go"),
        QStringLiteral("back"),   QStringLiteral("activate"),   QStringLiteral("app")};
    return words;
}

QStringList vocabulary(const QStringList &appNames, const QStringList &windowTitles, int cap)
{
    TermList terms(std::max(cap, 0));
    for (const QString &word : commandWords())
        terms.add(word);
    for (const QString &name : appNames) {
        QStringList words = asciiWords(name);
        words.removeIf([](const QString &word) { return isNoise(word.toLower()) || isDigits(word); });
        // A name of several words ("LibreOffice Writer") is also one term; a dotted id is not.
        if (words.size() > 1 && name.trimmed().contains(QLatin1Char(' '))) {
            QStringList joined;
            for (const QString &word : words)
                joined.append(asTerm(word));
            terms.add(joined.join(QLatin1Char('_')));
        }
        for (const QString &word : words)
            terms.add(asTerm(word));
    }
    for (const QString &title : windowTitles) {
        for (const QString &word : asciiWords(title)) {
            // Short words and numbers are mostly articles, counters and extensions.
            if (word.size() >= 3 && !isDigits(word) && !isNoise(word.toLower()))
                terms.add(asTerm(word));
        }
    }
    return terms.terms();
}

QStringList vocabulary(const QList<RunningAppSummary> &apps, const QList<DesktopWindowInfo> &windows, int cap)
{
    QStringList names;
    for (const RunningAppSummary &app : apps)
        names.append(app.name);
    QStringList titles;
    for (const DesktopWindowInfo &window : windows)
        titles.append(window.title);
    return vocabulary(names, titles, cap);
}

QStringList spokenParts(const QString &term)
{
    static const QStringList digitNames{QStringLiteral("zero"), QStringLiteral("one"), QStringLiteral("two"),
                                        QStringLiteral("three"), QStringLiteral("four"), QStringLiteral("five"),
                                        QStringLiteral("six"), QStringLiteral("seven"), QStringLiteral("eight"),
                                        QStringLiteral("nine")};
    // Upper-case runs (before a capitalised word), capitalised or lower-case words, single digits.
    static const QRegularExpression pieces(QStringLiteral("[A-Z]+(?![a-z])|[A-Z]?[a-z]+|[0-9]"));
    QStringList parts;
    for (const QString &word : term.split(QLatin1Char('_'), Qt::SkipEmptyParts)) {
        auto match = pieces.globalMatch(word);
        while (match.hasNext()) {
            const QString piece = match.next().captured();
            if (piece[0].isDigit())
                parts.append(digitNames[piece[0].digitValue()]);
            else if (piece.size() == 1 || piece == piece.toUpper())
                parts.append(piece.toUpper());  // spelled out
            else
                parts.append(piece.toLower());
        }
    }
    return parts;
}

QString displayTranscript(const QString &recognised)
{
    QString text = recognised;
    return text.replace(QLatin1Char('_'), QLatin1Char(' '));
}

}  // namespace zapum::recognition_context
