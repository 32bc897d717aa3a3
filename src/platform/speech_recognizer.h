#pragma once

#include "foundation/failure.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace zapum {

// A streaming US-English recogniser. Used from one thread at a time; loading a model may take a
// while, so construct it away from the main thread.
class SpeechRecognizer {
public:
    virtual ~SpeechRecognizer() = default;

    // False when the model is missing or could not be loaded; nothing else works then.
    virtual bool isAvailable() const = 0;
    // The rate of the 16-bit mono samples `feed` expects.
    virtual int sampleRate() const = 0;

    virtual Status beginUtterance() = 0;
    virtual void feed(const qint16 *samples, qsizetype count) = 0;
    // The best transcript of the audio fed so far in this utterance.
    virtual QString partialTranscript() = 0;
    // Ends the audio and returns the final transcript.
    virtual QString endUtterance() = 0;

    // Terms to listen for from the next utterance on, beyond the model's everyday words (see
    // recognition_context.h); an empty list means the model alone. Ends an utterance in
    // progress when the recogniser has to change. Returns whether it changed.
    virtual bool setContext(const QStringList &terms)
    {
        Q_UNUSED(terms);
        return false;
    }
};

// Implemented by the platform back-end. An empty model path means the installed default model.
std::unique_ptr<SpeechRecognizer> createSpeechRecognizer(const QString &modelPath = {});

}  // namespace zapum
