#include "PromoView.h"

#include "ui/Kit.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <algorithm>

using namespace zrp::ui;

PromoView::PromoView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PromoView"));
    setCursor(Qt::PointingHandCursor);
    m_image = defaultPlaceholder();
}

QImage PromoView::defaultPlaceholder()
{
    static const QImage placeholder(QStringLiteral(":/ZRP768x432.png"));
    return placeholder;
}

void PromoView::setEpisodeImage(const QImage& image)
{
    if (image.isNull())
        return;
    m_image = image;
    m_loaded = true;
    update();
}

void PromoView::setTexts(const QString& programTitle, const QString& episodeTitle, const QString& description)
{
    m_programTitle = programTitle;
    m_episodeTitle = episodeTitle;
    m_episodeDescription = description;
    QStringList name;
    for (const QString& s : {programTitle, episodeTitle})
        if (!s.isEmpty())
            name << s;
    setAccessibleName(name.isEmpty() ? QStringLiteral("Featured video") : name.join(QStringLiteral(", ")));
    setAccessibleDescription(description);
    update();
}

void PromoView::setFadeOpacity(qreal opacity)
{
    opacity = std::clamp(opacity, 0.0, 1.0);
    if (qFuzzyCompare(opacity + 1.0, m_fade + 1.0))
        return;
    m_fade = opacity;
    update();
}

void PromoView::setFocusRing(bool on)
{
    if (m_focusRing == on)
        return;
    m_focusRing = on;
    update();
}

void PromoView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setOpacity(effectiveOpacity());
    const QRectF r = rect();
    QPainterPath clip;
    clip.addRoundedRect(r, Theme::cornerRadius, Theme::cornerRadius);
    p.setClipPath(clip);
    p.fillRect(r, Theme::surface);
    if (!m_image.isNull()) {
        // Fill the page, keeping the picture's proportions (cropped at the edges if need be).
        const QSizeF s = QSizeF(m_image.size()).scaled(r.size(), Qt::KeepAspectRatioByExpanding);
        p.drawImage(
            QRectF(r.center().x() - s.width() / 2, r.center().y() - s.height() / 2, s.width(), s.height()),
            m_image);
    }

    // overlay: a gradient that keeps the texts readable on any picture.
    const qreal overlayTop = r.height() * 0.55;
    QLinearGradient g(0, overlayTop, 0, r.height());
    g.setColorAt(0, QColor(0, 0, 0, 0));
    g.setColorAt(0.45, QColor(0, 0, 0, 150));
    g.setColorAt(1, QColor(0, 0, 0, 215));
    p.fillRect(QRectF(0, overlayTop, r.width(), r.height() - overlayTop), g);

    const int pad = 20;
    const int textWidth = width() - 2 * pad;
    const QFont descFont = Theme::font(13);
    const QFont titleFont = Theme::font(20, true);
    const QFont programFont = Theme::font(14, true);
    int y = height() - pad - 18;
    p.setFont(descFont);
    p.setPen(Theme::secondaryText);
    p.drawText(QRect(pad, y, textWidth, 18), Qt::AlignLeft | Qt::AlignVCenter,
               elided(m_episodeDescription, descFont, textWidth));
    y -= 30;
    p.setFont(titleFont);
    p.setPen(Theme::text);
    p.drawText(QRect(pad, y, textWidth, 28), Qt::AlignLeft | Qt::AlignVCenter,
               elided(m_episodeTitle, titleFont, textWidth));
    y -= 22;
    p.setFont(programFont);
    p.setPen(Theme::accent.lighter(130));
    p.drawText(QRect(pad, y, textWidth, 20), Qt::AlignLeft | Qt::AlignVCenter,
               elided(m_programTitle.toUpper(), programFont, textWidth));
    if (m_focusRing) {
        p.setClipping(false);
        p.setOpacity(1.0);
        p.setPen(QPen(Theme::accent, 3));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(1.5, 1.5, -1.5, -1.5), Theme::cornerRadius, Theme::cornerRadius);
    }
}

void PromoView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        e->ignore();
        return;
    }
    m_pressed = true;
    update();
}

void PromoView::mouseReleaseEvent(QMouseEvent* e)
{
    const bool was = m_pressed;
    m_pressed = false;
    update();
    if (e->button() == Qt::LeftButton && was && rect().contains(e->position().toPoint()))
        emit touched(this);
}
