#pragma once

#include <QString>
#include <QStringList>

#include <algorithm>
#include <vector>

// Word error counting shared by the recognition benchmarks.
namespace zapum::bench {

inline QStringList words(const QString &text)
{
    return text.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Substitutions, deletions and insertions needed to turn the reference into the hypothesis.
inline int editDistance(const QStringList &reference, const QStringList &hypothesis)
{
    std::vector<int> row(size_t(hypothesis.size()) + 1);
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= reference.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= hypothesis.size(); ++j) {
            const int substitution = diagonal + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1);
            diagonal = row[size_t(j)];
            row[size_t(j)] = std::min({substitution, row[size_t(j)] + 1, row[size_t(j) - 1] + 1});
        }
    }
    return row[size_t(hypothesis.size())];
}

}  // namespace zapum::bench
