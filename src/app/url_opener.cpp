#include "url_opener.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace app {

bool DesktopUrlOpener::open(const QString &address)
{
    // A path is handed over as a file URL; anything else is taken as the address it is.
    const QUrl url = QFileInfo::exists(address) ? QUrl::fromLocalFile(QFileInfo(address).absoluteFilePath())
                                                : QUrl(address, QUrl::TolerantMode);
    return url.isValid() && QDesktopServices::openUrl(url);
}

} // namespace app
