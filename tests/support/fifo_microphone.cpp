#include "support/fifo_microphone.h"

#include "support/app_process.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace zapum::test {

namespace {

// 20 ms of audio per write: fine enough for the timing of a partial transcript.
constexpr qsizetype kChunkBytes = FifoMicrophone::kSampleRate / 50 * 2;

}  // namespace

bool FifoMicrophone::available()
{
    return qEnvironmentVariableIsSet("ZAPUM_TEST_SESSION") && qEnvironmentVariableIsSet("ZAPUM_TEST_MIC_FIFO");
}

QByteArray FifoMicrophone::speak(const QString &text, const QString &voice)
{
    using namespace Qt::StringLiterals;
    QTemporaryDir dir;
    const QString wav = dir.filePath(u"speech.wav"_s);
    if (!runTool(u"flite"_s, {u"-voice"_s, voice, u"-t"_s, text, u"-o"_s, wav}))
        return {};
    return runTool(u"sox"_s, {wav, u"-r"_s, u"16000"_s, u"-c"_s, u"1"_s, u"-b"_s, u"16"_s, u"-e"_s, u"signed"_s,
                              u"-t"_s, u"raw"_s, u"-"_s})
        .value_or(QByteArray());
}

FifoMicrophone::FifoMicrophone()
{
    // Non-blocking, so a writer never hangs on a full pipe when nobody records any more.
    m_fd = ::open(qgetenv("ZAPUM_TEST_MIC_FIFO").constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
}

FifoMicrophone::~FifoMicrophone()
{
    join();
    if (m_fd >= 0)
        ::close(m_fd);
}

void FifoMicrophone::join()
{
    m_stop = true;
    if (m_writer.joinable())
        m_writer.join();
    m_stop = false;
}

void FifoMicrophone::play(QByteArray samples)
{
    join();
    m_done = false;
    m_startedAt = Clock::now();
    m_writer = std::thread([this, samples = std::move(samples)] { write(samples); });
}

void FifoMicrophone::write(QByteArray samples)
{
    for (qsizetype offset = 0; offset < samples.size() && !m_stop && m_fd >= 0;) {
        const qsizetype length = std::min(kChunkBytes, samples.size() - offset);
        // Like a microphone, a piece goes out once it has been spoken, never earlier; paced against
        // the start so that scheduling delays do not add up.
        std::this_thread::sleep_until(m_startedAt + std::chrono::microseconds((offset + length) * 1'000'000 / 2 / kSampleRate));
        const ssize_t written = ::write(m_fd, samples.constData() + offset, size_t(length));
        if (written > 0)
            offset += qsizetype(written);
        else if (written < 0 && errno != EAGAIN && errno != EINTR)
            break;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    m_done = true;
}

bool FifoMicrophone::waitUntilPlayed(std::chrono::milliseconds timeout)
{
    return QTest::qWaitFor([this] { return m_done.load(); }, int(timeout.count()));
}

}  // namespace zapum::test
