#pragma once

#include "support/fake_http_server.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>

namespace zapum::test {

struct SpeechClip {
    QByteArray mp3;  // empty when a tool is missing or failed
    qint64 durationMs = -1;
};

// MP3 speech made on the spot: flite speaks the text (voice slt, 16 kHz), sox resamples it to
// the rate given (the service's replies are 44.1 kHz) and lame encodes it. With `seconds`, the
// speech is cut or padded with silence to exactly that length.
SpeechClip synthesizeSpeech(const QString &text, int sampleRate = 44100, double seconds = 0.0);
// Silence, then a 440 Hz tone at half of full scale, as a 44.1 kHz MP3.
SpeechClip toneAfterSilence(double silenceSeconds, double toneSeconds);

// A fake ElevenLabs text-to-speech service on a real HTTP server. POST
// /v1/text-to-speech/<voice id>[/stream] with the right key gets the MP3 it was given (queue a
// trickled or cut-off reply to stream it); a wrong key gets the service's 401 JSON error; anything
// else gets 404. Requests are recorded as they arrived.
class FakeSpeechApi {
public:
    static inline const QByteArray kInvalidKeyBody =
        R"({"detail":{"status":"invalid_api_key","message":"Invalid API key"}})";

    FakeSpeechApi(QByteArray mp3, QByteArray apiKey);

    QUrl baseUrl() const { return m_server.baseUrl(); }
    FakeHttpServer &server() { return m_server; }
    // Answers the next request with this instead (a 2xx that is not audio, a stall, ...).
    void enqueue(FakeResponse response) { m_server.enqueue(std::move(response)); }

    QList<RecordedRequest> requests() const { return m_server.requests(); }
    int requestCount() const { return m_server.requestCount(); }

private:
    FakeResponse answer(const RecordedRequest &request) const;

    const QByteArray m_mp3;
    const QByteArray m_apiKey;
    // Last, so that its thread stops before anything the handler touches is gone.
    FakeHttpServer m_server;
};

}  // namespace zapum::test
