#include "UrlOpener.h"

#include "ui/Kit.h"

namespace zrp {

UrlOpener systemUrlOpener()
{
    // Through the kit, so that the one process-wide test hook sees these links too.
    return [](const QUrl& url) { return ui::openExternalUrl(url); };
}

} // namespace zrp
