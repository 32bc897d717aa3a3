#pragma once

#include <QByteArray>
#include <QStringList>

namespace zapum {

// A small bigram language model, in ARPA text, of the commands that name things on the screen:
// "switch to X", "open X", "bring X to the front", "close the X window", … for every name X,
// with absolute discounting and back-off to unigrams. Every other word falls to <UNK>, which gets
// almost no probability, so mixed with the general model it raises the commands and leaves other
// sentences to the general model.
QByteArray commandPhraseModel(const QStringList &names);

}  // namespace zapum
