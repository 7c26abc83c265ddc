#include "WebPanel.h"

#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QLabel>
#include <QLibrary>
#include <QPointer>
#include <QVBoxLayout>
#include <unistd.h>

namespace zrp::ui {

namespace {
// Pages are laid out for at least this width before being shrunk to fit.
constexpr qreal kDesktopWidth = 1024.0;

QString& modulePathOverride()
{
    static QString path;
    return path;
}

// Loaded once for the process and never unloaded: the engine keeps threads of its own.
CreateWebEngineViewFunction engineFactory(QString* error)
{
    struct Loaded
    {
        CreateWebEngineViewFunction factory = nullptr;
        QString error;
    };
    static QHash<QString, Loaded> tried; // by path; one path in a running product
    const QString path = WebPanel::engineModulePath();
    auto it = tried.find(path);
    if (it == tried.end()) {
        Loaded loaded;
        auto* library = new QLibrary(path);
        library->setLoadHints(QLibrary::PreventUnloadHint);
        loaded.factory =
            reinterpret_cast<CreateWebEngineViewFunction>(library->resolve(kCreateWebEngineViewSymbol));
        if (!loaded.factory) {
            loaded.error = library->errorString();
            delete library;
        }
        it = tried.insert(path, loaded);
    }
    if (error)
        *error = it->error;
    return it->factory;
}
} // namespace

void prepareWebEngine()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

QString WebPanel::engineModulePath()
{
    if (!modulePathOverride().isEmpty())
        return modulePathOverride();
    // Next to the program when installed; in the build tree otherwise.
    const QString beside =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("libzrp_webengine.so"));
    if (QFile::exists(beside))
        return beside;
    return QStringLiteral(ZRP_WEB_ENGINE_MODULE);
}

void WebPanel::setEngineModulePathForTesting(const QString& path)
{
    modulePathOverride() = path;
}

WebPanel::WebPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("WebPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

WebPanel::~WebPanel()
{
    if (m_engine) {
        // No signal from a dying panel: its owner may already be half destroyed.
        m_engine->setLoadingHandler(nullptr);
        m_engine->stop();
        m_engine.reset();
    }
}

bool WebPanel::ensureEngine()
{
    if (m_engine)
        return true;
    QString error;
    CreateWebEngineViewFunction create = engineFactory(&error);
    if (!create) {
        if (!m_unavailable) {
            m_unavailable =
                new QLabel(tr("Web pages cannot be shown on this computer.\n%1").arg(error), this);
            m_unavailable->setObjectName(QStringLiteral("WebPanelUnavailable"));
            m_unavailable->setWordWrap(true);
            m_unavailable->setAlignment(Qt::AlignCenter);
            layout()->addWidget(m_unavailable);
        }
        qWarning("zrp: the web page engine is missing: %s", qPrintable(error));
        return false;
    }
    m_engine.reset(create(this));
    layout()->addWidget(m_engine->widget());
    QPointer<WebPanel> self(this);
    m_engine->setLoadingHandler(
        [self](WebEngineView::LoadStatus status, int code, const QString& text, bool aborted) {
            if (self)
                self->onLoading(status, code, text, aborted);
        });
    applyZoom();
    return true;
}

void WebPanel::onLoading(WebEngineView::LoadStatus status, int code, const QString& text, bool aborted)
{
    switch (status) {
    case WebEngineView::LoadStatus::Started:
        emit loadStarted();
        break;
    case WebEngineView::LoadStatus::Succeeded:
        emit loadFinished();
        break;
    case WebEngineView::LoadStatus::Stopped:
        emit loadFailed(kCancelledErrorCode, tr("The page load was cancelled."), true);
        break;
    case WebEngineView::LoadStatus::Failed:
        emit loadFailed(aborted ? kCancelledErrorCode : code,
                        text.isEmpty() ? tr("The page could not be loaded.") : text, aborted);
        break;
    }
}

void WebPanel::loadUrl(const QUrl& url)
{
    m_url = url;
    if (ensureEngine())
        m_engine->load(url);
    else
        emit loadFailed(-1, tr("Web pages cannot be shown on this computer."), false);
}

void WebPanel::loadHtml(const QString& html)
{
    // Without the engine the panel already says why; an error page could not show anyway.
    if (ensureEngine())
        m_engine->setHtml(html);
}

void WebPanel::stopLoading()
{
    if (m_engine)
        m_engine->stop();
}

bool WebPanel::isLoading() const
{
    // The engine's own word: a load replaced by another one ends after the next has begun.
    return m_engine && m_engine->isLoading();
}

void WebPanel::setScalesPageToFit(bool scales)
{
    m_scalesPageToFit = scales;
    applyZoom();
}

void WebPanel::toPlainText(const std::function<void(const QString&)>& done) const
{
    if (!m_engine) {
        done(QString());
        return;
    }
    m_engine->toPlainText(done);
}

void WebPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    applyZoom();
}

void WebPanel::applyZoom()
{
    if (!m_engine)
        return;
    // The engine accepts zoom factors from 0.25 to 5.
    m_engine->setZoomFactor(m_scalesPageToFit ? qBound(0.25, width() / kDesktopWidth, 1.0) : 1.0);
}

} // namespace zrp::ui
