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
// Context terms missing from the general language model become members of a word class whose
// n-grams are those of the pronoun "it" ("switch to it", "open it"), so the model knows them and
// they can follow and precede its words; terms missing from the dictionary get pronunciations
// from FliteLexicon. A class cannot lose members, so terms stay once added; the language model is
// reloaded when the context is turned off or the class grows past kMaxClassTerms. The search then
// mixes the general model with a small model of the commands that name this context's terms
// (command_phrase_model.h); when a context brings no new word, only that small model is swapped
// in the mix, which is quick. Words are never added to the binary model itself: this PocketSphinx
// corrupts it and crashes on the next use.
class PocketSphinxRecognizer final : public SpeechRecognizer {
public:
    static constexpr int kMaxClassTerms = 1000;
    // The share of the command-phrase model in the mix with the general model.
    static constexpr float kCommandWeight = 0.2f;

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
    bool installSearch(ngram_model_t *model);
    bool reloadLanguageModel();
    ngram_model_t *commandModel(const QStringList &names);
    ngram_model_t *mixedModel(const QStringList &names);
    bool swapCommandModel(const QStringList &names);
    QString pronunciation(const QString &term);

    cmd_ln_t *m_config = nullptr;
    ps_decoder_t *m_decoder = nullptr;
    ngram_model_t *m_languageModel = nullptr;  // our own reference; the search holds another
    ngram_model_t *m_mixedModel = nullptr;     // the search's mix, while it has one
    QByteArray m_languageModelPath;
    bool m_inUtterance = false;
    qsizetype m_samplesFed = 0;

    FliteLexicon m_lexicon;
    bool m_classCreated = false;
    QSet<QString> m_classTerms;  // terms in the class, as spelled
    QSet<QString> m_knownTerms;  // terms the model knows anyway, or that cannot be said
    QStringList m_contextTerms;  // as last given
};

}  // namespace zapum
