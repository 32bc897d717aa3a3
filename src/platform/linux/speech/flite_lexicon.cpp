#include "platform/linux/speech/flite_lexicon.h"

#include <flite/flite.h>

#include <mutex>

extern "C" cst_lexicon *cmu_lex_init(void);

namespace zapum {

namespace {

const char *const kLetterPhones[26] = {
    "EY",    "B IY", "S IY", "D IY", "IY",    "EH F", "JH IY",  "EY CH", "AY",   "JH EY", "K EY",
    "EH L",  "EH M", "EH N", "OW",   "P IY",  "K Y UW", "AA R", "EH S",  "T IY", "Y UW",  "V IY",
    "D AH B AH L Y UW", "EH K S", "W AY", "Z IY"};

}  // namespace

FliteLexicon::FliteLexicon()
{
    // The lexicon is a process-wide table that flite builds on first use.
    static std::once_flag built;
    static const cst_lexicon *lexicon = nullptr;
    std::call_once(built, [] { lexicon = cmu_lex_init(); });
    m_lexicon = lexicon;
}

QString FliteLexicon::toModelPhones(const QStringList &flitePhones)
{
    QStringList phones;
    for (QString phone : flitePhones) {
        while (!phone.isEmpty() && phone.back().isDigit())
            phone.chop(1);
        if (phone.isEmpty() || phone == QLatin1String("pau"))
            continue;
        // Flite's reduced vowel is a schwa, which the model writes as an unstressed AH.
        if (phone == QLatin1String("ax"))
            phone = QStringLiteral("ah");
        phones.append(phone.toUpper());
    }
    return phones.join(QLatin1Char(' '));
}

QString FliteLexicon::spelled(const QString &letters)
{
    QStringList phones;
    for (const QChar c : letters) {
        const char16_t letter = c.toLower().unicode();
        if (letter >= u'a' && letter <= u'z')
            phones.append(QLatin1String(kLetterPhones[letter - u'a']));
    }
    return phones.join(QLatin1Char(' '));
}

QString FliteLexicon::phones(const QString &word)
{
    if (word.isEmpty())
        return {};
    if (word == word.toUpper())
        return spelled(word);
    if (const auto found = m_cache.constFind(word); found != m_cache.cend())
        return *found;
    QStringList flitePhones;
    if (m_lexicon) {
        const QByteArray latin = word.toLower().toLatin1();
        cst_val *looked = lex_lookup(m_lexicon, latin.constData(), nullptr, nullptr);
        for (const cst_val *item = looked; item; item = val_cdr(item))
            flitePhones.append(QString::fromLatin1(val_string(val_car(item))));
        delete_val(looked);
    }
    const QString phones = toModelPhones(flitePhones);
    m_cache.insert(word, phones);
    return phones;
}

}  // namespace zapum
