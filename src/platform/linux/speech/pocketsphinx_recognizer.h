#pragma once

#include "platform/linux/speech/flite_lexicon.h"
#include "platform/speech_recognizer.h"

#include <QSet>

typedef struct cmd_ln_s cmd_ln_t;
typedef struct ps_decoder_s ps_decoder_t;
typedef struct ngram_model_s ngram_model_t;

namespace zapum {

// PocketSphinx with the US-English model of the `pocketsphinx-en-us` package: a model folder
// holding the acoustic model `en-us/`, the language model `en-us.lm.bin` and the dictionary
// `cmudict-en-us.dict`. Loading takes a good part of a second.
//
// Context terms become members of a word class of the language model whose n-grams are those of
// the pronoun "it" ("switch to it", "open it", "bring it to the front"), so a name gets the odds
// of "it" shared with the other names, instead of the near-zero odds the general model gives an
// unknown or rare word. Terms missing from the dictionary get pronunciations from FliteLexicon.
// A class cannot lose members, so terms stay once added; the set is cleared (the language model
// reloaded) when the context is turned off or the class grows past kMaxClassTerms.
class PocketSphinxRecognizer final : public SpeechRecognizer {
public:
    static constexpr int kMaxClassTerms = 1000;

    explicit PocketSphinxRecognizer(const QString &modelFolder);
    ~PocketSphinxRecognizer() override;
    PocketSphinxRecognizer(const PocketSphinxRecognizer &) = delete;
    PocketSphinxRecognizer &operator=(const PocketSphinxRecognizer &) = delete;

    static QString defaultModelFolder();
    static bool modelFilesPresent(const QString &modelFolder);

    bool isAvailable() const override { return m_decoder != nullptr; }
    int sampleRate() const override { return 16000; }
    Status beginUtterance() override;
    void feed(const qint16 *samples, qsizetype count) override;
    QString partialTranscript() override;
    QString endUtterance() override;
    bool setContext(const QStringList &terms) override;

private:
    bool installSearch();
    bool reloadLanguageModel();
    QString pronunciation(const QString &term);

    cmd_ln_t *m_config = nullptr;
    ps_decoder_t *m_decoder = nullptr;
    ngram_model_t *m_languageModel = nullptr;  // our own reference; the search holds another
    QByteArray m_languageModelPath;
    bool m_inUtterance = false;
    qsizetype m_samplesFed = 0;

    FliteLexicon m_lexicon;
    bool m_classCreated = false;
    QSet<QString> m_classTerms;  // terms in the class, as spelled
    QSet<QString> m_knownTerms;  // terms the model knows anyway, or that cannot be said
};

}  // namespace zapum
