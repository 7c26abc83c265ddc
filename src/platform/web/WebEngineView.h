#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace zrp::ui {

// The browser engine behind a WebPanel. It lives in a module of its own that is loaded on the
// first page shown: linked into the program, the engine's libraries cost every launch about
// 60 ms and 30 MB before the first frame, for a panel most sessions never open.
//
// Plain C++ on purpose: the module depends on Qt alone, none of our own code.
class WebEngineView
{
public:
    enum class LoadStatus
    {
        Started,
        Succeeded,
        Stopped,
        Failed
    };
    // status, the engine's error code, its text, and whether the load was aborted by another.
    using LoadingHandler = std::function<void(LoadStatus, int, const QString&, bool)>;

    virtual ~WebEngineView() = default;
    virtual QWidget* widget() = 0;
    virtual void setLoadingHandler(LoadingHandler handler) = 0;
    virtual void load(const QUrl& url) = 0;
    virtual void setHtml(const QString& html) = 0;
    virtual void stop() = 0;
    virtual bool isLoading() const = 0;
    virtual void setZoomFactor(qreal factor) = 0;
    virtual void toPlainText(std::function<void(const QString&)> done) = 0;
};

// The module's one entry point.
using CreateWebEngineViewFunction = WebEngineView* (*)(QWidget* parent);
inline constexpr const char* kCreateWebEngineViewSymbol = "zrp_create_web_engine_view";

} // namespace zrp::ui
