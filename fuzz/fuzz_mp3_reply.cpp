// Feeds arbitrary bytes to what reads a speech reply: the MP3 decoder (opening, the length scan,
// decoding to the end, metering over the result) and the error text of a failed request. None of
// it needs an audio device, an application object or an event loop.
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

    auto opened = zapum::Mp3Decoder::open(body);
    if (!opened) {
        if (opened.failure().message.isEmpty())
            __builtin_trap();
        return 0;
    }
    zapum::Mp3Decoder &decoder = *opened.value();
    if (decoder.sampleRate() <= 0 || decoder.channelCount() <= 0 || decoder.frameCount() <= 0)
        __builtin_trap();
    decoder.decodeAll();
    if (decoder.pcm().size() % decoder.bytesPerFrame() != 0)
        __builtin_trap();
    const qint64 frames = decoder.pcm().size() / decoder.bytesPerFrame();
    for (const qint64 centre : {qint64(0), frames / 2, frames, frames + 1000}) {
        const double power = zapum::meanPowerDb(decoder.pcm(), decoder.channelCount(), centre, 1470);
        if (std::isnan(power) || power > 0.0 || power < zapum::AudioClipPlayer::kSilenceDb)
            __builtin_trap();
    }
    return 0;
}
