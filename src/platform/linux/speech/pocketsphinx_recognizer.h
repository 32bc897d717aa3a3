#pragma once

#include "platform/speech_recognizer.h"

typedef struct cmd_ln_s cmd_ln_t;
typedef struct ps_decoder_s ps_decoder_t;

namespace zapum {

// PocketSphinx with the US-English model of the `pocketsphinx-en-us` package: a model folder
// holding the acoustic model `en-us/`, the language model `en-us.lm.bin` and the dictionary
// `cmudict-en-us.dict`. Loading takes a good part of a second.
class PocketSphinxRecognizer final : public SpeechRecognizer {
public:
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

private:
    cmd_ln_t *m_config = nullptr;
    ps_decoder_t *m_decoder = nullptr;
    bool m_inUtterance = false;
    qsizetype m_samplesFed = 0;
};

}  // namespace zapum
