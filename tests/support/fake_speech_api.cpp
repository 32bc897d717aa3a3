#include "support/fake_speech_api.h"

#include "support/app_process.h"

#include <QFile>
#include <QTemporaryDir>

namespace zapum::test {

using namespace Qt::StringLiterals;

namespace {

// Encodes the WAV file as MP3, with the WAV's length. Into a file, not a pipe: only in a file can
// lame fill in the tag that tells a decoder how much delay and padding to drop, so that the sound
// starts where the WAV's does.
SpeechClip encode(const QString &wav)
{
    const QString mp3 = wav + u".mp3"_s;
    const auto seconds = runTool(u"soxi"_s, {u"-D"_s, wav});
    QFile file(mp3);
    if (!runTool(u"lame"_s, {u"--quiet"_s, u"-b"_s, u"128"_s, wav, mp3}) || !seconds || !file.open(QIODevice::ReadOnly))
        return {};
    return SpeechClip{file.readAll(), qint64(seconds->trimmed().toDouble() * 1000.0)};
}

}  // namespace

SpeechClip toneAfterSilence(double silenceSeconds, double toneSeconds)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(u"tone.wav"_s);
    if (!runTool(u"sox"_s, {u"-n"_s, u"-r"_s, u"44100"_s, u"-c"_s, u"1"_s, u"-b"_s, u"16"_s, wav, u"synth"_s,
                            QString::number(toneSeconds), u"sine"_s, u"440"_s, u"vol"_s, u"0.5"_s, u"pad"_s,
                            QString::number(silenceSeconds), u"0"_s}))
        return {};
    return encode(wav);
}

SpeechClip synthesizeSpeech(const QString &text, int sampleRate, double seconds)
{
    QTemporaryDir dir;
    const QString spoken = dir.filePath(u"spoken.wav"_s);
    const QString resampled = dir.filePath(u"resampled.wav"_s);
    QStringList soxArguments{spoken, u"-r"_s, QString::number(sampleRate), resampled};
    if (seconds > 0.0)
        soxArguments << u"pad"_s << u"0"_s << QString::number(seconds) << u"trim"_s << u"0"_s
                     << QString::number(seconds);
    if (!runTool(u"flite"_s, {u"-voice"_s, u"slt"_s, u"-t"_s, text, u"-o"_s, spoken}) ||
        !runTool(u"sox"_s, soxArguments))
        return {};
    return encode(resampled);
}

FakeSpeechApi::FakeSpeechApi(QByteArray mp3, QByteArray apiKey) : m_mp3(std::move(mp3)), m_apiKey(std::move(apiKey))
{
    m_server.setHandler([this](const RecordedRequest &request) { return answer(request); });
}

FakeResponse FakeSpeechApi::answer(const RecordedRequest &request) const
{
    if (request.method != "POST" || !request.path().startsWith("/v1/text-to-speech/"))
        return FakeResponse::json(404, R"({"detail":{"status":"not_found","message":"Not found"}})");
    if (request.header("xi-api-key") != m_apiKey)
        return FakeResponse::json(401, kInvalidKeyBody);
    FakeResponse response;
    response.headers = {{"Content-Type", "audio/mpeg"}};
    response.body = m_mp3;
    return response;
}

}  // namespace zapum::test
