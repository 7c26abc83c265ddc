#include "UrlOpener.h"

#include <QDesktopServices>

namespace zrp {

UrlOpener systemUrlOpener()
{
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

} // namespace zrp
