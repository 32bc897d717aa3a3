// Feeds arbitrary bytes to the XSETTINGS reader: the property is written by whichever client owns
// the settings selection, so it is outside input like any other.
#include "platform/linux/x11/xsettings.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray property(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)zapum::readXSetting(property, "Gtk/EnableAnimations");
    (void)zapum::gtkIniEnablesAnimations(QString::fromUtf8(property));
    return 0;
}
