#include "ModalWebViewController.h"

#include "core/RunLoop.h"
#include "ui/ActivityIndicatorView.h"
#include "ui/Kit.h"
#include "web/WebPanel.h"

#include <QPushButton>
#include <QShortcut>

using namespace zrp::ui;

ModalWebViewController::ModalWebViewController(const QUrl& url, QObject* parent)
    : ViewController(parent), m_url(url)
{}

ModalWebViewController::~ModalWebViewController()
{
    stopAndDetach();
}

QString ModalWebViewController::errorPage(const QString& description)
{
    // The description comes from the network stack and may quote the page's address: it must
    // not become markup.
    return QStringLiteral(
               "<html><center><font size=+5 color='red'>An error occurred:<br>%1</font></center></html>")
        .arg(description.toHtmlEscaped());
}

QWidget* ModalWebViewController::loadView()
{
    auto* root = new QWidget();
    root->setObjectName(QStringLiteral("ModalWebView"));
    root->setFixedSize(400, 400);
    root->setAttribute(Qt::WA_StyledBackground, true);
    root->setStyleSheet(QStringLiteral("#ModalWebView { background-color: %1; border-radius: %2px; }")
                            .arg(Theme::surface.name())
                            .arg(Theme::cornerRadius));

    m_webView = new WebPanel(root);
    m_webView->setGeometry(root->rect().adjusted(10, 10, -10, -10));
    m_webView->setScalesPageToFit(true);

    m_activity = new ActivityIndicatorView(root);
    m_activity->move((root->width() - m_activity->width()) / 2, (root->height() - m_activity->height()) / 2);

    // A 44-point target around the 30-point image, at the top right over the page.
    m_closeButton = new QPushButton(root);
    m_closeButton->setObjectName(QStringLiteral("CloseModalButton"));
    m_closeButton->setAccessibleName(tr("Close"));
    m_closeButton->setToolTip(tr("Close (Esc)"));
    m_closeButton->setIcon(QIcon(QStringLiteral(":/Close-Modal.png")));
    m_closeButton->setIconSize(QSize(30, 30));
    m_closeButton->setFixedSize(Theme::minimumTouchTarget, Theme::minimumTouchTarget);
    m_closeButton->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: none; }"));
    m_closeButton->setCursor(Qt::PointingHandCursor);
    m_closeButton->move(root->width() - Theme::minimumTouchTarget, 0);
    m_closeButton->raise();
    connect(m_closeButton, &QPushButton::clicked, this, [this] {
        // The presenter deletes this panel, button included: not from inside the button's own
        // signal.
        QPointer<ModalWebViewController> self(this);
        zrp::RunLoop::post([self] {
            if (self && self->m_delegate)
                self->m_delegate->closeModalWebView(self);
        });
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), root);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, m_closeButton, &QPushButton::click);

    connect(m_webView, &WebPanel::loadStarted, this, [this] { webViewDidStartLoad(); });
    connect(m_webView, &WebPanel::loadFinished, this, [this] { webViewDidFinishLoad(); });
    connect(m_webView, &WebPanel::loadFailed, this, [this](int code, const QString& text, bool cancelled) {
        didFailLoadWithError(code, text, cancelled);
    });
    return root;
}

void ModalWebViewController::viewDidLoad()
{
    m_webView->loadUrl(m_url);
}

void ModalWebViewController::webViewDidStartLoad()
{
    setNetworkActivityIndicatorVisible(true);
    m_activity->startAnimating();
}

void ModalWebViewController::webViewDidFinishLoad()
{
    setNetworkActivityIndicatorVisible(false);
    m_activity->stopAnimating();
}

void ModalWebViewController::didFailLoadWithError(int code, const QString& description, bool cancelled)
{
    // A load replaced by another one is not an error the viewer needs to see. One stopped with
    // nothing after it (a link that turned out to be a download) must not leave the spinner
    // and the busy pointer on: looked at once the engine has settled.
    if (cancelled || code == WebPanel::kCancelledErrorCode) {
        QPointer<ModalWebViewController> self(this);
        zrp::RunLoop::post([self] {
            if (self && self->m_webView && !self->m_webView->isLoading())
                self->webViewDidFinishLoad();
        });
        return;
    }
    setNetworkActivityIndicatorVisible(false);
    m_activity->stopAnimating();
    m_webView->loadHtml(errorPage(description));
}

void ModalWebViewController::viewWillDisappear(bool)
{
    stopAndDetach();
}

void ModalWebViewController::viewDidUnload()
{
    m_webView = nullptr;
    m_activity = nullptr;
    m_closeButton = nullptr;
}

void ModalWebViewController::stopAndDetach()
{
    if (m_webView) {
        m_webView->disconnect(this);
        m_webView->stopLoading();
    }
    setNetworkActivityIndicatorVisible(false);
}
