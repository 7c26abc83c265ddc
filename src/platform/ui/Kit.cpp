#include "Kit.h"

#include <QFontDatabase>
#include <QFontMetrics>

namespace zrp::ui {

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
