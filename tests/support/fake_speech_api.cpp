#include "support/fake_speech_api.h"

#include <QDebug>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace zapum::test {
namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok =
        process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    // The tools' chatter (sox warns about padding it did not need) only matters when they fail.
    if (!ok)
        qWarning().noquote() << program << "failed:" << process.readAll();
    return ok;
}

// Encodes the WAV file and reads back the MP3, with the WAV's length.
SpeechClip encode(const QTemporaryDir &dir, const QString &wav)
{
    const QString mp3 = dir.filePath(QStringLiteral("speech.mp3"));
    if (!run(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("128"), wav, mp3}))
        return {};
    QProcess soxi;
    soxi.start(QStringLiteral("soxi"), {QStringLiteral("-D"), wav});
    const bool measured = soxi.waitForFinished(30000) && soxi.exitCode() == 0;
    bool ok = false;
    const double length = soxi.readAllStandardOutput().trimmed().toDouble(&ok);
    QFile file(mp3);
    if (!measured || !ok || !file.open(QIODevice::ReadOnly))
        return {};
    return SpeechClip{file.readAll(), qint64(length * 1000.0)};
}

}  // namespace

SpeechClip toneAfterSilence(double silenceSeconds, double toneSeconds)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("tone.wav"));
    if (!dir.isValid() ||
        !run(QStringLiteral("sox"), {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                                     QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-b"),
                                     QStringLiteral("16"), wav, QStringLiteral("synth"), QString::number(toneSeconds),
                                     QStringLiteral("sine"), QStringLiteral("440"), QStringLiteral("vol"),
                                     QStringLiteral("0.5"), QStringLiteral("pad"), QString::number(silenceSeconds),
                                     QStringLiteral("0")}))
        return {};
    return encode(dir, wav);
}

SpeechClip synthesizeSpeech(const QString &text, int sampleRate, double seconds)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return {};
    const QString spoken = dir.filePath(QStringLiteral("spoken.wav"));
    const QString resampled = dir.filePath(QStringLiteral("resampled.wav"));
    QStringList soxArguments{spoken, QStringLiteral("-r"), QString::number(sampleRate), resampled};
    if (seconds > 0.0)
        soxArguments << QStringLiteral("pad") << QStringLiteral("0") << QString::number(seconds)
                     << QStringLiteral("trim") << QStringLiteral("0") << QString::number(seconds);
    if (!run(QStringLiteral("flite"), {QStringLiteral("-voice"), QStringLiteral("slt"), QStringLiteral("-t"), text,
                                       QStringLiteral("-o"), spoken}) ||
        !run(QStringLiteral("sox"), soxArguments))
        return {};
    return encode(dir, resampled);
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
