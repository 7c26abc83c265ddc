#pragma once

#include "WebEngineView.h"

#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

class QLabel;

namespace zrp::ui {

// A web page inside the application. The browser engine is heavy (its own processes, tens of
// megabytes), so it is loaded and created only when the panel first loads something; a panel
// that is built but never shown costs a plain widget.
class WebPanel : public QWidget
{
    Q_OBJECT
public:
    explicit WebPanel(QWidget* parent = nullptr);
    ~WebPanel() override;

    void loadUrl(const QUrl& url);
    void loadHtml(const QString& html);
    void stopLoading();
    bool isLoading() const;
    QUrl url() const { return m_url; }

    // Pages laid out for a desktop window are shrunk to the panel's width.
    void setScalesPageToFit(bool scales);

    bool isEngineCreated() const { return bool(m_engine); }

    // The text of the page on show (tests and accessibility); asynchronous.
    void toPlainText(const std::function<void(const QString&)>& done) const;

    // The engine's error codes of interest to callers.
    static constexpr int kCancelledErrorCode = -999;

    // Where the engine module is looked for; tests point it elsewhere to see a missing one.
    static QString engineModulePath();
    static void setEngineModulePathForTesting(const QString& path);

signals:
    void loadStarted();
    void loadFinished();
    // `cancelled` is set when the load was stopped or replaced by another one; the code is then
    // kCancelledErrorCode.
    void loadFailed(int errorCode, const QString& description, bool cancelled);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    bool ensureEngine();
    void applyZoom();
    void onLoading(WebEngineView::LoadStatus status, int code, const QString& text, bool aborted);

    std::unique_ptr<WebEngineView> m_engine;
    QLabel* m_unavailable = nullptr;
    QUrl m_url;
    bool m_scalesPageToFit = false;
};

// Call before the QApplication exists: the engine shares OpenGL contexts with the widgets, and
// running as root (containers, CI) needs its process sandbox turned off.
void prepareWebEngine();

} // namespace zrp::ui
