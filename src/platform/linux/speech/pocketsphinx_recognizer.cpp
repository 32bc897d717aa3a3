#include "platform/linux/speech/pocketsphinx_recognizer.h"

#include "foundation/logging.h"

#include <QFileInfo>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace zapum {

namespace {

// Set while ending an utterance that got no audio, which PocketSphinx reports as an error.
thread_local bool t_expectingEmptyUtterance = false;

// PocketSphinx chatters on stderr by default; keep its errors (a broken model is worth knowing
// about) and drop the rest.
void logSphinxMessage(void *, err_lvl_t level, const char *format, ...)
{
    if ((level != ERR_ERROR && level != ERR_FATAL) || t_expectingEmptyUtterance)
        return;
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    qCWarning(lcPlatform).noquote() << "PocketSphinx:" << QString::fromLocal8Bit(line).trimmed();
}

QByteArray path(const QString &folder, const char *name)
{
    return QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(name));
}

}  // namespace

QString PocketSphinxRecognizer::defaultModelFolder()
{
    return QStringLiteral(ZAPUM_POCKETSPHINX_MODELDIR "/en-us");
}

bool PocketSphinxRecognizer::modelFilesPresent(const QString &modelFolder)
{
    for (const char *name : {"en-us/mdef", "en-us/means", "en-us/variances", "en-us.lm.bin", "cmudict-en-us.dict"}) {
        if (!QFileInfo(QFile::decodeName(path(modelFolder, name))).isFile())
            return false;
    }
    return true;
}

PocketSphinxRecognizer::PocketSphinxRecognizer(const QString &modelFolder)
{
    static std::once_flag quietened;
    std::call_once(quietened, [] {
        err_set_logfp(nullptr);  // also silences the configuration dump, which writes there directly
        err_set_callback(logSphinxMessage, nullptr);
    });

    // Some of PocketSphinx's checks on a missing file end the process; look first.
    if (!modelFilesPresent(modelFolder)) {
        qCWarning(lcPlatform) << "No PocketSphinx model in" << modelFolder;
        return;
    }
    const QByteArray hmm = path(modelFolder, "en-us");
    const QByteArray lm = path(modelFolder, "en-us.lm.bin");
    const QByteArray dict = path(modelFolder, "cmudict-en-us.dict");
    // At most 3000 active HMMs a frame (the default allows 30000): decoding takes about a third
    // less time, which keeps partial transcripts prompt on a busy machine, and on our test
    // sentences it made as few mistakes as the default.
    m_config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict",
                           dict.constData(), "-maxhmmpf", "3000", static_cast<const char *>(nullptr));
    if (m_config)
        m_decoder = ps_init(m_config);
    if (!m_decoder)
        qCWarning(lcPlatform) << "The PocketSphinx model in" << modelFolder << "could not be loaded";
}

PocketSphinxRecognizer::~PocketSphinxRecognizer()
{
    if (m_decoder)
        ps_free(m_decoder);
    if (m_config)
        cmd_ln_free_r(m_config);
}

Status PocketSphinxRecognizer::beginUtterance()
{
    if (!m_decoder)
        return Failure{QStringLiteral("PocketSphinx"), 1, QStringLiteral("No speech model is loaded.")};
    if (m_inUtterance)
        ps_end_utt(m_decoder);
    m_inUtterance = ps_start_utt(m_decoder) == 0;
    m_samplesFed = 0;
    if (!m_inUtterance)
        return Failure{QStringLiteral("PocketSphinx"), 2, QStringLiteral("The recognizer could not start listening.")};
    return Done{};
}

void PocketSphinxRecognizer::feed(const qint16 *samples, qsizetype count)
{
    if (!m_inUtterance || count <= 0)
        return;
    ps_process_raw(m_decoder, samples, size_t(count), FALSE, FALSE);
    m_samplesFed += count;
}

QString PocketSphinxRecognizer::partialTranscript()
{
    if (!m_inUtterance)
        return {};
    int32 score = 0;
    return QString::fromUtf8(ps_get_hyp(m_decoder, &score));
}

QString PocketSphinxRecognizer::endUtterance()
{
    if (!m_inUtterance)
        return {};
    m_inUtterance = false;
    t_expectingEmptyUtterance = m_samplesFed == 0;
    ps_end_utt(m_decoder);
    t_expectingEmptyUtterance = false;
    int32 score = 0;
    return QString::fromUtf8(ps_get_hyp(m_decoder, &score));
}

std::unique_ptr<SpeechRecognizer> createSpeechRecognizer(const QString &modelPath)
{
    return std::make_unique<PocketSphinxRecognizer>(modelPath.isEmpty() ? PocketSphinxRecognizer::defaultModelFolder()
                                                                         : modelPath);
}

}  // namespace zapum
