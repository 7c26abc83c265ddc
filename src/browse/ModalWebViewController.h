#pragma once

#include "ui/ActivityIndicatorView.h"
#include "ui/ViewController.h"
#include "web/WebPanel.h"

#include <QPointer>
#include <QPushButton>
#include <QUrl>

// Told when the viewer closes the web panel; the presenter takes it down.
class ModalWebViewDelegate
{
public:
    virtual ~ModalWebViewDelegate() = default;
    virtual void closeModalWebView(QObject* sender) = 0;
};

// A web page in a modal panel (shops, DVD links): 400 x 400 with a close button, a spinner
// while the page loads and an error page of its own.
class ModalWebViewController : public zrp::ui::ViewController
{
    Q_OBJECT
public:
    explicit ModalWebViewController(const QUrl& url, QObject* parent = nullptr);
    ~ModalWebViewController() override;

    QUrl url() const { return m_url; }
    void setDelegate(ModalWebViewDelegate* delegate) { m_delegate = delegate; }
    ModalWebViewDelegate* delegate() const { return m_delegate; }

    zrp::ui::WebPanel* myWebView() const { return m_webView; }
    zrp::ui::ActivityIndicatorView* activityIndicatorView() const { return m_activity; }
    QPushButton* closeButton() const { return m_closeButton; }

    static QString errorPage(const QString& description);

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;
    void viewWillDisappear(bool animated) override;
    void viewDidUnload() override;

private:
    void webViewDidStartLoad();
    void webViewDidFinishLoad();
    void didFailLoadWithError(int code, const QString& description, bool cancelled);
    void stopAndDetach();

    QUrl m_url;
    ModalWebViewDelegate* m_delegate = nullptr;
    QPointer<zrp::ui::WebPanel> m_webView;
    QPointer<zrp::ui::ActivityIndicatorView> m_activity;
    QPointer<QPushButton> m_closeButton;
};
