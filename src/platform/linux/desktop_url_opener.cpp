#include "platform/url_opener.h"

#include <QDesktopServices>

namespace zapum {
namespace {

// Qt's desktop services hand the URL to the desktop's portal or xdg-open.
class DesktopUrlOpener final : public UrlOpener {
public:
    bool open(const QUrl &url) override { return QDesktopServices::openUrl(url); }
};

}  // namespace

std::unique_ptr<UrlOpener> makeUrlOpener()
{
    return std::make_unique<DesktopUrlOpener>();
}

}  // namespace zapum
