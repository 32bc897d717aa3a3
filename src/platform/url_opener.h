#pragma once

#include <QUrl>

#include <memory>

namespace zapum {

// Opens a URL in the user's default handler for its scheme (a web page in the browser).
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // False when no handler could be started; the caller decides whether that matters.
    virtual bool open(const QUrl &url) = 0;
};

// Implemented by the platform back-end.
std::unique_ptr<UrlOpener> makeUrlOpener();

}  // namespace zapum
