#include "Kit.h"

#include <QDesktopServices>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

namespace zrp::ui {

namespace {
std::function<bool(const QUrl&)>& urlOpener()
{
    static std::function<bool(const QUrl&)> opener;
    return opener;
}
} // namespace

bool openExternalUrl(const QUrl& url)
{
    if (!url.isValid() || url.isEmpty())
        return false;
    // Links come from services: only web pages and mail leave the app, never a local file or
    // another program's scheme.
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
        scheme != QLatin1String("mailto")) {
        qWarning("zrp: not opening %s: only web and mail links leave the app", qPrintable(url.toString()));
        return false;
    }
    if (urlOpener())
        return urlOpener()(url);
    return QDesktopServices::openUrl(url);
}

void paintSpinner(QPainter& p, const QPointF& centre, int step)
{
    p.save();
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 12; ++i) {
        const int age = (step - i + 12) % 12;
        p.save();
        p.translate(centre);
        p.rotate(i * 30.0);
        p.setBrush(QColor(255, 255, 255, 255 - age * 18));
        p.drawRoundedRect(QRectF(-2.5, -30, 5, 14), 2.5, 2.5);
        p.restore();
    }
    p.restore();
}

namespace {
bool& networkActivity()
{
    static bool visible = false;
    return visible;
}
} // namespace

void setNetworkActivityIndicatorVisible(bool visible)
{
    if (networkActivity() == visible)
        return;
    networkActivity() = visible;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    if (visible)
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

bool isNetworkActivityIndicatorVisible()
{
    return networkActivity();
}

void setExternalUrlOpenerForTesting(std::function<bool(const QUrl&)> opener)
{
    urlOpener() = std::move(opener);
}

namespace {
QPointer<QWidget>& windowRef()
{
    static QPointer<QWidget> w;
    return w;
}
} // namespace

void setMainWindow(QWidget* window)
{
    windowRef() = window;
}

QWidget* mainWindow()
{
    return windowRef().data();
}

QFont Theme::font(qreal points, bool bold)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(qRound(points)); // a tablet point is one device-independent pixel
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

QString Theme::styleSheet()
{
    return QStringLiteral(
               "QWidget { color: %1; font-family: 'DejaVu Sans'; }"
               "QPushButton { background-color: %2; border: 1px solid %3; border-radius: 5px;"
               " padding: 6px 14px; min-height: 32px; }"
               "QPushButton:hover { border-color: %4; }"
               "QPushButton:pressed { background-color: %3; }"
               "QPushButton:focus { border-color: %4; }"
               "QPushButton:checked { background-color: %4; color: #0b0d0e; }"
               "QLineEdit { background: %2; border: 1px solid %3; border-radius: 5px; padding: 6px; }"
               "QLineEdit:focus { border-color: %4; }"
               "QScrollBar:vertical { width: 8px; background: transparent; }"
               "QScrollBar::handle:vertical { background: %3; border-radius: 4px; min-height: 30px; }"
               "QScrollBar::add-line, QScrollBar::sub-line { height: 0; width: 0; }"
               "QScrollBar:horizontal { height: 8px; background: transparent; }"
               "QScrollBar::handle:horizontal { background: %3; border-radius: 4px; min-width: 30px; }")
        .arg(text.name(), surfaceRaised.name(), separator.name(), accent.name());
}

QString elided(const QString& text, const QFont& font, int width, Qt::TextElideMode mode)
{
    return QFontMetrics(font).elidedText(text, mode, std::max(0, width));
}

} // namespace zrp::ui
