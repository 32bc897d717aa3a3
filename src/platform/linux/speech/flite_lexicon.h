#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

typedef struct lexicon_struct cst_lexicon;

namespace zapum {

// Pronunciations for words the recogniser's dictionary lacks: flite's US English lexicon, and its
// letter-to-sound rules for words that are in no lexicon, in the phones of PocketSphinx's US
// English acoustic model. Remembers every answer. Used from one thread at a time.
class FliteLexicon {
public:
    FliteLexicon();

    // Space-separated model phones for a lower-case word ("kdenlive" → "K D AH N L AY V"), or
    // for an upper-case run spelled letter by letter ("VLC" → "V IY EH L S IY"); empty when the
    // word has no letters.
    QString phones(const QString &word);

    // Flite's phones (stress digits included, "pau" for pauses) in the model's phone set.
    static QString toModelPhones(const QStringList &flitePhones);
    static QString spelled(const QString &letters);

private:
    const cst_lexicon *m_lexicon = nullptr;
    QHash<QString, QString> m_cache;
};

}  // namespace zapum
