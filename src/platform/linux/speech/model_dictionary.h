#pragma once

#include <QByteArray>
#include <QString>

namespace zapum {

// The pronunciation dictionary cut down to the words the language model knows. The US English
// dictionary holds about 135,000 words, the model about 72,500; the recogniser keeps every
// dictionary word in its dictionary and again in its search, although it can never hear a word
// the model lacks, so the cut copy saves over 20 MB. Words a context adds still get their
// pronunciation (FliteLexicon knows the same lexicon).
//
// The copy is made once, in `cacheFolder`, under a name that follows the two files it comes from,
// so an updated model package gets a fresh copy. Returns its path, or `dictionaryPath` when the
// copy cannot be made (no cache folder, an unreadable model).
QByteArray languageModelDictionary(const QByteArray &dictionaryPath, const QByteArray &languageModelPath,
                                   const QString &cacheFolder);

// Hands memory freed in large amounts (a search rebuilt, a model read to learn its words) back to
// the system; the allocator would otherwise keep it for the thread that freed it.
void releaseFreedMemory();

}  // namespace zapum
