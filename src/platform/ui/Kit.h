#pragma once

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>

class QPainter;

namespace zrp::ui {

// The window every overlay (alerts, popovers, sheets, the loading overlay) is placed in.
void setMainWindow(QWidget* window);
QWidget* mainWindow();

// The product's look: a calm dark theme with one teal accent.
namespace Theme {
inline const QColor background{0x10, 0x12, 0x14};
inline const QColor surface{0x1c, 0x1f, 0x23};
inline const QColor surfaceRaised{0x26, 0x2a, 0x2f};
inline const QColor text{0xf2, 0xf2, 0xf2};
inline const QColor secondaryText{0xb4, 0xb8, 0xbd};
inline const QColor accent{0x1f, 0xb5, 0xa8};
inline const QColor separator{0x33, 0x37, 0x3c};
inline constexpr int cornerRadius = 5;
inline constexpr int minimumTouchTarget = 44;

// The display face of the product, standing in for its custom font; sizes are in points.
QFont font(qreal points, bool bold = false);
QString styleSheet();
} // namespace Theme

// Hands a web or mail link to the desktop (browser, mail program); any other scheme is refused. Tests replace
// the opener to see what would have been opened; an empty function restores the desktop.
bool openExternalUrl(const QUrl& url);
void setExternalUrlOpenerForTesting(std::function<bool(const QUrl&)> opener);

// The twelve-spoke spinner of the loading overlay and the activity indicator, 60 points across.
void paintSpinner(QPainter& painter, const QPointF& centre, int step);

// The "network in use" sign of the whole application (a busy pointer here): on while a page
// or a long request is loading.
void setNetworkActivityIndicatorVisible(bool visible);
bool isNetworkActivityIndicatorVisible();

// Text that fits its box: elided at the end, never cut mid-glyph.
QString elided(const QString& text, const QFont& font, int width, Qt::TextElideMode mode = Qt::ElideRight);

} // namespace zrp::ui
