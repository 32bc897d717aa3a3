#include "platform/linux/speech/command_phrase_model.h"

#include <QHash>
#include <QMap>

#include <cmath>

namespace zapum {

namespace {

const char *const kTemplates[] = {
    "switch to X",         "open X",          "go to X",          "go back to X",       "bring X to the front",
    "show X",              "show me X",       "close X",          "close the X window", "minimize X",
    "take a screenshot of X", "switch to the X window", "click on X", "X",
};

constexpr double kDiscount = 0.5;

}  // namespace

QByteArray commandPhraseModel(const QStringList &names)
{
    // Counts over the sentences, with <s> and </s> around each.
    QMap<QByteArray, double> unigrams;  // sorted, so the file is the same for the same names
    QMap<QPair<QByteArray, QByteArray>, double> bigrams;
    double tokens = 0;
    for (const QString &name : names) {
        const QByteArray x = name.toLatin1();
        for (const char *pattern : kTemplates) {
            QList<QByteArray> words{"<s>"};
            for (const QByteArray &word : QByteArray(pattern).split(' '))
                words.append(word == "X" ? x : word);
            words.append("</s>");
            for (qsizetype i = 0; i < words.size(); ++i) {
                if (i > 0) {
                    unigrams[words[i]] += 1;
                    tokens += 1;
                    bigrams[{words[i - 1], words[i]}] += 1;
                } else {
                    unigrams[words[i]] += 0;
                }
            }
        }
    }
    QHash<QByteArray, double> historyCount;
    for (auto it = bigrams.cbegin(); it != bigrams.cend(); ++it)
        historyCount[it.key().first] += it.value();
    const double vocabulary = double(unigrams.size());
    QHash<QByteArray, double> p1;
    for (auto it = unigrams.cbegin(); it != unigrams.cend(); ++it)
        p1[it.key()] = it.key() == "<s>" ? 0.0 : (it.value() + 0.5) / (tokens + 0.5 * vocabulary);

    // Back-off weight of a history: the mass the discount freed, over the unigram mass of the
    // words it was not seen with.
    QHash<QByteArray, double> seenDiscounted;
    QHash<QByteArray, double> seenUnigram;
    for (auto it = bigrams.cbegin(); it != bigrams.cend(); ++it) {
        const QByteArray &history = it.key().first;
        seenDiscounted[history] += (it.value() - kDiscount) / historyCount[history];
        seenUnigram[history] += p1[it.key().second];
    }

    QByteArray arpa = "\\data\\\nngram 1=" + QByteArray::number(unigrams.size() + 1) +
                      "\nngram 2=" + QByteArray::number(bigrams.size()) + "\n\n\\1-grams:\n";
    // After a word of ordinary speech (<UNK> here) this model predicts next to nothing, so that
    // only a command's own words are raised and "the next train" does not become "next bring".
    arpa += "-9 <UNK> -4\n";
    for (auto it = unigrams.cbegin(); it != unigrams.cend(); ++it) {
        const QByteArray &word = it.key();
        const double logProbability = word == "<s>" ? -99.0 : std::log10(p1[word]);
        double backoff = 0.0;
        if (historyCount.contains(word))
            backoff = std::log10((1.0 - seenDiscounted[word]) / std::max(1.0 - seenUnigram[word], 1e-9));
        arpa += QByteArray::number(logProbability, 'f', 6) + ' ' + word + ' ' + QByteArray::number(backoff, 'f', 6) + '\n';
    }
    arpa += "\n\\2-grams:\n";
    for (auto it = bigrams.cbegin(); it != bigrams.cend(); ++it) {
        const double probability = (it.value() - kDiscount) / historyCount[it.key().first];
        arpa += QByteArray::number(std::log10(probability), 'f', 6) + ' ' + it.key().first + ' ' + it.key().second + '\n';
    }
    arpa += "\n\\end\\\n";
    return arpa;
}

}  // namespace zapum
