// The browser engine module: loaded by WebPanel on the first page shown.
#include "WebEngineView.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

QWebEngineProfile* panelProfile()
{
    // Off the record: a shop or help page leaves no cookies or cache behind in the viewer's
    // data folder.
    static QPointer<QWebEngineProfile> profile;
    if (!profile)
        profile = new QWebEngineProfile(QCoreApplication::instance());
    return profile;
}

class EngineView final : public zrp::ui::WebEngineView
{
public:
    explicit EngineView(QWidget* parent)
        : m_view(new QWebEngineView(parent)), m_page(new QWebEnginePage(panelProfile()))
    {
        m_view->setObjectName(QStringLiteral("WebPanelEngineView"));
        m_view->setPage(m_page);
        QObject::connect(m_page, &QWebEnginePage::loadingChanged, m_view,
                         [this](const QWebEngineLoadingInfo& info) {
                             if (!m_handler)
                                 return;
                             switch (info.status()) {
                             case QWebEngineLoadingInfo::LoadStartedStatus:
                                 m_handler(LoadStatus::Started, 0, QString(), false);
                                 break;
                             case QWebEngineLoadingInfo::LoadSucceededStatus:
                                 m_handler(LoadStatus::Succeeded, 0, QString(), false);
                                 break;
                             case QWebEngineLoadingInfo::LoadStoppedStatus:
                                 m_handler(LoadStatus::Stopped, 0, QString(), true);
                                 break;
                             case QWebEngineLoadingInfo::LoadFailedStatus:
                                 // The engine's "aborted" is what a load replaced by another one ends with.
                                 m_handler(LoadStatus::Failed, info.errorCode(), info.errorString(),
                                           info.errorDomain() == QWebEngineLoadingInfo::InternalErrorDomain &&
                                               info.errorCode() == -3);
                                 break;
                             }
                         });
    }

    ~EngineView() override
    {
        // No report from here on; the engine's own connections stay, the view needs them to
        // let go of its page.
        m_handler = nullptr;
        if (m_view)
            m_view->stop();
        // The page goes before its view: the page's render surface lives inside the view, and
        // a view torn down first leaves the page deleting that surface a second time.
        delete m_page.data();
        delete m_view.data();
    }

    QWidget* widget() override { return m_view; }
    void setLoadingHandler(LoadingHandler handler) override { m_handler = std::move(handler); }
    void load(const QUrl& url) override { m_view->load(url); }
    void setHtml(const QString& html) override { m_view->setHtml(html); }
    void stop() override { m_view->stop(); }
    bool isLoading() const override { return m_page && m_page->isLoading(); }
    void setZoomFactor(qreal factor) override { m_view->setZoomFactor(factor); }
    void toPlainText(std::function<void(const QString&)> done) override
    {
        m_page->toPlainText([done = std::move(done)](const QString& text) { done(text); });
    }

private:
    QPointer<QWebEngineView> m_view;
    QPointer<QWebEnginePage> m_page; // ours, not the view's: it must die first
    LoadingHandler m_handler;
};

} // namespace

extern "C" Q_DECL_EXPORT zrp::ui::WebEngineView* zrp_create_web_engine_view(QWidget* parent)
{
    return new EngineView(parent);
}
