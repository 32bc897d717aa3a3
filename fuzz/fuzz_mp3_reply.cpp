// Feeds arbitrary bytes to what reads a speech reply: the streaming MP3 decoder (the body cut into
// pieces as a network might hand it over, decoding to the end, metering over the result) and the
// error text of a failed request. None of it needs an audio device, an application object or an
// event loop.
#include "platform/linux/audio/mp3_decoder.h"
#include "platform/linux/audio/sink_audio_output.h"
#include "voice/eleven_labs_tts.h"

#include <QByteArray>

#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));

    // Whatever the body, the user must be told something.
    if (zapum::ElevenLabsTTS::replyFailure(body).message.isEmpty())
        __builtin_trap();

    auto created = zapum::Mp3Decoder::create();
    if (!created)
        __builtin_trap();
    zapum::Mp3Decoder &decoder = *created.value();
    // Pieces whose sizes follow the body's own first byte, so every kind of cut gets tried.
    const qsizetype piece = 1 + (body.isEmpty() ? 0 : qsizetype(quint8(body.at(0))) * 7);
    bool failed = false;
    for (qsizetype from = 0; from < body.size() && !failed; from += piece)
        failed = !decoder.feed(QByteArrayView(body).sliced(from, std::min(piece, body.size() - from))).ok();
    const zapum::Status finished = decoder.finish();
    if (!finished.ok()) {
        if (finished.failure().message.isEmpty())
            __builtin_trap();
        return 0;
    }
    if (failed || !decoder.hasFormat() || decoder.sampleRate() <= 0 || decoder.channelCount() <= 0)
        __builtin_trap();
    if (decoder.pcm().size() % decoder.bytesPerFrame() != 0)
        __builtin_trap();
    const qint64 frames = decoder.pcm().size() / decoder.bytesPerFrame();
    for (const qint64 centre : {qint64(0), frames / 2, frames, frames + 1000}) {
        const double power = zapum::meanPowerDb(decoder.pcm(), decoder.channelCount(), centre, 1470);
        if (std::isnan(power) || power > 0.0 || power < zapum::AudioStreamPlayer::kSilenceDb)
            __builtin_trap();
    }
    return 0;
}
