#include "platform/linux/speech/model_dictionary.h"

#include "foundation/logging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <sphinxbase/logmath.h>
#include <sphinxbase/ngram_model.h>

#include <malloc.h>

namespace zapum {

namespace {

QByteArray fingerprint(const QByteArray &path)
{
    const QFileInfo info(QFile::decodeName(path));
    return path + '|' + QByteArray::number(info.size()) + '|'
           + QByteArray::number(info.lastModified().toMSecsSinceEpoch());
}

QSet<QByteArray> modelWords(const QByteArray &languageModelPath)
{
    QSet<QByteArray> words;
    // The same base as the decoder's; only the words are read here, never a score.
    logmath_t *logmath = logmath_init(1.0001, 0, FALSE);
    ngram_model_t *model = ngram_model_read(nullptr, languageModelPath.constData(), NGRAM_AUTO, logmath);
    if (model) {
        const uint32 count = ngram_model_get_counts(model)[0];
        words.reserve(qsizetype(count));
        for (uint32 i = 0; i < count; ++i) {
            if (const char *word = ngram_word(model, int32(i)))
                words.insert(QByteArray(word));
        }
        ngram_model_free(model);
    }
    logmath_free(logmath);
    releaseFreedMemory();
    return words;
}

}  // namespace

QByteArray languageModelDictionary(const QByteArray &dictionaryPath, const QByteArray &languageModelPath,
                                   const QString &cacheFolder)
{
    if (cacheFolder.isEmpty())
        return dictionaryPath;
    const QByteArray files = fingerprint(dictionaryPath) + '|' + fingerprint(languageModelPath);
    const QByteArray key = QCryptographicHash::hash(files, QCryptographicHash::Sha1).toHex().left(16);
    const QString name = QStringLiteral("dictionary-%1.dict").arg(QLatin1String(key));
    const QDir folder(cacheFolder);
    if (folder.exists(name))
        return QFile::encodeName(folder.filePath(name));

    const QSet<QByteArray> words = modelWords(languageModelPath);
    QFile full(QFile::decodeName(dictionaryPath));
    if (words.isEmpty() || !full.open(QIODevice::ReadOnly) || !folder.mkpath(QStringLiteral("."))) {
        qCWarning(lcPlatform) << "Using the whole speech dictionary: no cut copy could be made in" << cacheFolder;
        return dictionaryPath;
    }
    QSaveFile cut(folder.filePath(name));
    if (!cut.open(QIODevice::WriteOnly))
        return dictionaryPath;
    while (!full.atEnd()) {
        const QByteArray line = full.readLine();
        // "word" or an alternative pronunciation "word(2)", then the phones.
        qsizetype end = line.indexOf(' ');
        if (const qsizetype paren = line.indexOf('('); paren > 0 && (end < 0 || paren < end))
            end = paren;
        if (end > 0 && words.contains(line.left(end)))
            cut.write(line);
    }
    if (full.error() != QFileDevice::NoError || !cut.commit()) {
        qCWarning(lcPlatform) << "Using the whole speech dictionary: the cut copy could not be written";
        return dictionaryPath;
    }
    // Copies made for an earlier model package would only take room.
    for (const QString &old : folder.entryList({QStringLiteral("dictionary-*.dict")}, QDir::Files)) {
        if (old != name)
            QFile::remove(folder.filePath(old));
    }
    return QFile::encodeName(folder.filePath(name));
}

void releaseFreedMemory()
{
    malloc_trim(0);
}

}  // namespace zapum
