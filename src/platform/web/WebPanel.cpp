#include "WebPanel.h"

#include <QCoreApplication>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <unistd.h>

namespace zrp::ui {

namespace {
// Pages are laid out for at least this width before being shrunk to fit.
constexpr qreal kDesktopWidth = 1024.0;

QWebEngineProfile* panelProfile()
{
    // Off the record: a shop or help page leaves no cookies or cache behind in the viewer's
    // data folder.
    static QPointer<QWebEngineProfile> profile;
    if (!profile)
        profile = new QWebEngineProfile(QCoreApplication::instance());
    return profile;
}
} // namespace

void prepareWebEngine()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

WebPanel::WebPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("WebPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

WebPanel::~WebPanel()
{
    if (m_view) {
        // No signal from a dying panel: its owner may already be half destroyed.
        m_page->disconnect(this);
        m_view->stop();
        // The page goes before its view: the page's render surface lives inside the view, and
        // a view torn down first leaves the page deleting that surface a second time.
        delete m_page.data();
        delete m_view.data();
    }
}

QWebEngineView* WebPanel::ensureView()
{
    if (m_view)
        return m_view;
    auto* view = new QWebEngineView(this);
    view->setObjectName(QStringLiteral("WebPanelEngineView"));
    auto* page = new QWebEnginePage(panelProfile());
    view->setPage(page);
    m_page = page;
    layout()->addWidget(view);
    m_view = view;
    connect(page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        switch (info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            m_loading = true;
            emit loadStarted();
            break;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            m_loading = false;
            emit loadFinished();
            break;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            m_loading = false;
            emit loadFailed(kCancelledErrorCode, tr("The page load was cancelled."), true);
            break;
        case QWebEngineLoadingInfo::LoadFailedStatus: {
            m_loading = false;
            // The engine's "aborted" is what a load replaced by another one ends with.
            const bool aborted =
                info.errorDomain() == QWebEngineLoadingInfo::InternalErrorDomain && info.errorCode() == -3;
            const QString text =
                info.errorString().isEmpty() ? tr("The page could not be loaded.") : info.errorString();
            emit loadFailed(aborted ? kCancelledErrorCode : info.errorCode(), text, aborted);
            break;
        }
        }
    });
    applyZoom();
    return view;
}

void WebPanel::loadUrl(const QUrl& url)
{
    m_url = url;
    ensureView()->load(url);
}

void WebPanel::loadHtml(const QString& html)
{
    ensureView()->setHtml(html);
}

void WebPanel::stopLoading()
{
    if (m_view)
        m_view->stop();
    m_loading = false;
}

void WebPanel::setScalesPageToFit(bool scales)
{
    m_scalesPageToFit = scales;
    applyZoom();
}

void WebPanel::toPlainText(const std::function<void(const QString&)>& done) const
{
    if (!m_view) {
        done(QString());
        return;
    }
    m_page->toPlainText([done](const QString& text) { done(text); });
}

void WebPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    applyZoom();
}

void WebPanel::applyZoom()
{
    if (!m_view)
        return;
    // The engine accepts zoom factors from 0.25 to 5.
    const qreal factor = m_scalesPageToFit ? qBound(0.25, width() / kDesktopWidth, 1.0) : 1.0;
    m_view->setZoomFactor(factor);
}

} // namespace zrp::ui
