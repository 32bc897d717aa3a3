#include "platform/linux/speech/pocketsphinx_recognizer.h"

#include "foundation/logging.h"
#include "platform/linux/speech/command_phrase_model.h"
#include "platform/linux/speech/model_dictionary.h"
#include "voice/recognition_context.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/err.h>
#include <sphinxbase/ngram_model.h>

#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <mutex>
#include <vector>

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

constexpr const char *kSearchName = "zapum";
constexpr const char *kGeneralModelName = "general";
constexpr const char *kCommandModelName = "commands";
// The general model's word whose n-grams the context terms share: it stands where a name would
// ("switch to it", "open it", "bring it to the front"). Measured against "that", which did worse.
constexpr const char *kClassWord = "it";

QString dictionaryPhones(ps_decoder_t *decoder, const QByteArray &word)
{
    char *phones = ps_lookup_word(decoder, word.constData());
    const QString result = QString::fromLatin1(phones);
    ckd_free(phones);
    return result;
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
    const QByteArray dict = languageModelDictionary(
        path(modelFolder, "cmudict-en-us.dict"), lm,
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/speech"));
    // At most 3000 active HMMs a frame (the default allows 30000): decoding takes about a third
    // less time, which keeps partial transcripts prompt on a busy machine, and on our test
    // sentences it made as few mistakes as the default.
    m_config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict",
                           dict.constData(), "-maxhmmpf", "3000", static_cast<const char *>(nullptr));
    if (m_config)
        m_decoder = ps_init(m_config);
    if (!m_decoder) {
        qCWarning(lcPlatform) << "The PocketSphinx model in" << modelFolder << "could not be loaded";
        return;
    }
    m_languageModelPath = lm;
    // The default search wraps the general model in a set of one; keep a reference of our own, so
    // that searches built later can share it.
    if (ngram_model_t *set = ps_get_lm(m_decoder, ps_get_search(m_decoder))) {
        ngram_model_set_iter_t *models = ngram_model_set_iter(set);
        const char *name = nullptr;
        if (models) {
            m_languageModel = ngram_model_retain(ngram_model_set_iter_model(models, &name));
            ngram_model_set_iter_free(models);
        }
    }
    releaseFreedMemory();
}

PocketSphinxRecognizer::~PocketSphinxRecognizer()
{
    if (m_decoder)
        ps_free(m_decoder);
    if (m_languageModel)
        ngram_model_free(m_languageModel);
    if (m_config)
        cmd_ln_free_r(m_config);
    releaseFreedMemory();
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
    const QString transcript = QString::fromUtf8(ps_get_hyp(m_decoder, &score));
    releaseFreedMemory();  // the utterance's lattice
    return transcript;
}

QString PocketSphinxRecognizer::pronunciation(const QString &term)
{
    QStringList phones;
    for (const QString &part : recognition_context::spokenParts(term)) {
        QString said = part == part.toUpper() ? FliteLexicon::spelled(part) : dictionaryPhones(m_decoder, part.toLatin1());
        if (said.isEmpty())
            said = m_lexicon.phones(part);
        if (said.isEmpty())
            return {};
        phones.append(said);
    }
    return phones.join(QLatin1Char(' '));
}

bool PocketSphinxRecognizer::reloadLanguageModel()
{
    ps_unset_search(m_decoder, kSearchName);
    m_mixedModel = nullptr;
    if (m_languageModel)
        ngram_model_free(m_languageModel);
    m_languageModel = ngram_model_read(m_config, m_languageModelPath.constData(), NGRAM_AUTO,
                                       logmath_retain(ps_get_logmath(m_decoder)));
    m_classTerms.clear();
    m_knownTerms.clear();
    m_classCreated = false;
    if (!m_languageModel)
        qCWarning(lcPlatform) << "The PocketSphinx language model could not be reloaded";
    return m_languageModel != nullptr;
}

bool PocketSphinxRecognizer::installSearch(ngram_model_t *model)
{
    // The search takes over the reference it is given.
    if (!model || ps_set_lm(m_decoder, kSearchName, model) < 0 || ps_set_search(m_decoder, kSearchName) < 0) {
        qCWarning(lcPlatform) << "PocketSphinx refused the language model with the context terms";
        return false;
    }
    return true;
}

ngram_model_t *PocketSphinxRecognizer::commandModel(const QStringList &names)
{
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/zapum-context-XXXXXX.arpa"));
    if (!file.open() || file.write(commandPhraseModel(names)) < 0 || !file.flush())
        return nullptr;
    return ngram_model_read(m_config, QFile::encodeName(file.fileName()).constData(), NGRAM_ARPA,
                            logmath_retain(ps_get_logmath(m_decoder)));
}

bool PocketSphinxRecognizer::swapCommandModel(const QStringList &names)
{
    // The search's word list and lexicon tree stay as they are: every name is in the general
    // model already (a class member) and every command word too, so only probabilities change.
    ngram_model_t *commands = commandModel(names);
    if (!commands)
        return false;
    if (ngram_model_t *old = ngram_model_set_remove(m_mixedModel, kCommandModelName, TRUE))
        ngram_model_free(old);
    ngram_model_set_add(m_mixedModel, commands, kCommandModelName, 1.0f, TRUE);
    const char *names_[] = {kGeneralModelName, kCommandModelName};
    const float weights[] = {1.0f - kCommandWeight, kCommandWeight};
    ngram_model_set_interp(m_mixedModel, names_, weights);
    return true;
}

ngram_model_t *PocketSphinxRecognizer::mixedModel(const QStringList &names)
{
    ngram_model_t *commands = commandModel(names);
    if (!commands)
        return nullptr;
    ngram_model_t *models[] = {ngram_model_retain(m_languageModel), commands};
    const char *names_[] = {kGeneralModelName, kCommandModelName};
    const float weights[] = {1.0f - kCommandWeight, kCommandWeight};
    ngram_model_t *mixed = ngram_model_set_init(m_config, models, const_cast<char **>(names_), weights, 2);
    if (!mixed) {
        ngram_model_free(models[0]);
        ngram_model_free(commands);
    }
    return mixed;
}

bool PocketSphinxRecognizer::setContext(const QStringList &terms)
{
    if (!m_decoder || !m_languageModel || terms == m_contextTerms)
        return false;
    QElapsedTimer timer;
    timer.start();
    if (m_inUtterance) {
        t_expectingEmptyUtterance = true;
        ps_end_utt(m_decoder);
        t_expectingEmptyUtterance = false;
        m_inUtterance = false;
    }
    m_contextTerms = terms;

    const bool allKnown = std::all_of(terms.cbegin(), terms.cend(), [this](const QString &term) {
        return m_classTerms.contains(term) || m_knownTerms.contains(term);
    });
    if (m_mixedModel && allKnown) {
        QStringList names;
        for (const QString &term : terms) {
            if (m_classTerms.contains(term))
                names.append(term);
        }
        if (!names.isEmpty() && swapCommandModel(names)) {
            qCDebug(lcPlatform) << "Context of" << names.size() << "names swapped in" << timer.elapsed() << "ms";
            return true;
        }
    }

    // Every search the decoder holds goes; with no n-gram search left, adding words touches the
    // dictionary alone (this PocketSphinx corrupts a binary model it adds words to).
    ps_unset_search(m_decoder, kSearchName);
    m_mixedModel = nullptr;
    if (const char *current = ps_get_search(m_decoder))
        ps_unset_search(m_decoder, QByteArray(current).constData());

    qsizetype unknown = 0;
    for (const QString &term : terms)
        unknown += m_classTerms.contains(term) || m_knownTerms.contains(term) ? 0 : 1;
    if (terms.isEmpty() ? !m_classTerms.isEmpty() : m_classTerms.size() + unknown > kMaxClassTerms) {
        if (!reloadLanguageModel())
            return true;
    }
    if (terms.isEmpty()) {
        installSearch(ngram_model_retain(m_languageModel));
        qCDebug(lcPlatform) << "Context cleared in" << timer.elapsed() << "ms";
        return true;
    }

    std::vector<QByteArray> added;
    QStringList names;
    for (const QString &term : terms) {
        if (m_classTerms.contains(term)) {
            names.append(term);
            continue;
        }
        if (m_knownTerms.contains(term))
            continue;
        const QByteArray word = term.toLatin1();
        if (term.isEmpty() || ngram_wid(m_languageModel, word.constData()) != ngram_unknown_wid(m_languageModel)) {
            m_knownTerms.insert(term);
            continue;
        }
        if (dictionaryPhones(m_decoder, word).isEmpty()) {
            const QString phones = pronunciation(term);
            if (phones.isEmpty() || ps_add_word(m_decoder, word.constData(), phones.toLatin1().constData(), FALSE) < 0) {
                m_knownTerms.insert(term);
                continue;
            }
            // An acronym said as a word ("GIMP") is as likely as one spelled out.
            if (term.size() >= 4 && term == term.toUpper()) {
                const QString asWord = m_lexicon.phones(term.toLower());
                if (!asWord.isEmpty())
                    ps_add_word(m_decoder, QByteArray(word + "(2)").constData(), asWord.toLatin1().constData(), FALSE);
            }
        }
        added.push_back(word);
        m_classTerms.insert(term);
        names.append(term);
    }

    if (!added.empty()) {
        if (m_classCreated) {
            for (const QByteArray &word : added)
                ngram_model_add_class_word(m_languageModel, kClassWord, word.constData(), 1.0f);
        } else {
            std::vector<char *> words;
            for (QByteArray &word : added)
                words.push_back(word.data());
            const std::vector<float> weights(added.size(), 1.0f);
            m_classCreated = ngram_model_add_class(m_languageModel, kClassWord, 1.0f, words.data(), weights.data(),
                                                   int32(words.size())) >= 0;
            if (!m_classCreated)
                qCWarning(lcPlatform) << "PocketSphinx refused the class of context terms";
        }
    }
    ngram_model_t *mixed = names.isEmpty() || !m_classCreated ? nullptr : mixedModel(names);
    if (installSearch(mixed ? mixed : ngram_model_retain(m_languageModel)))
        m_mixedModel = mixed;
    releaseFreedMemory();  // the searches just replaced
    qCDebug(lcPlatform) << "Context of" << names.size() << "names installed in" << timer.elapsed() << "ms";
    return true;
}

std::unique_ptr<SpeechRecognizer> createSpeechRecognizer(const QString &modelPath)
{
    return std::make_unique<PocketSphinxRecognizer>(modelPath.isEmpty() ? PocketSphinxRecognizer::defaultModelFolder()
                                                                         : modelPath);
}

}  // namespace zapum
