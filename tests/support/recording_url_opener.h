#pragma once

#include "platform/url_opener.h"

#include <QList>
#include <QUrl>

namespace zapum::test {

// Records what the app asked to open instead of starting a browser.
class RecordingUrlOpener final : public UrlOpener {
public:
    bool open(const QUrl &url) override
    {
        opened.append(url);
        return true;
    }

    QList<QUrl> opened;
};

}  // namespace zapum::test
