#pragma once

#include <QUrl>
#include <functional>

namespace zrp {

// Opens a web address outside the application (the browser, the store). The prompts take one so
// that tests can see what would have opened instead of launching a browser.
using UrlOpener = std::function<bool(const QUrl&)>;

// The desktop, through ui::openExternalUrl.
UrlOpener systemUrlOpener();

} // namespace zrp
