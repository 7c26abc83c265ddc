#include "EpisodeThumbnailView.h"

#include "ui/Kit.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>

using namespace zrp::ui;

namespace {
constexpr int kTopMargin = 10;
constexpr int kTextGap = 8;
constexpr int kLineHeight = 18;

// A soft shadow without a blur pass: stacked rounded rectangles, faint at the edge.
void paintShadow(QPainter& p, const QRectF& r, const QColor& colour, int radius, qreal strength)
{
    p.save();
    p.setPen(Qt::NoPen);
    for (int i = radius; i >= 1; --i) {
        QColor c = colour;
        c.setAlphaF(strength * (1.0 - qreal(i) / qreal(radius + 1)) / qreal(radius) * 2.0);
        p.setBrush(c);
        p.drawRoundedRect(r.adjusted(-i, -i + 1, i, i + 1), Theme::cornerRadius + i, Theme::cornerRadius + i);
    }
    p.restore();
}
} // namespace

EpisodeThumbnailView::EpisodeThumbnailView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("EpisodeThumbnailView"));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setFixedSize(kCellWidth, kCellHeight);
    setCursor(Qt::PointingHandCursor);
    m_placeholder = defaultPlaceholder();
    updateAccessibleName();
}

QImage EpisodeThumbnailView::defaultPlaceholder()
{
    static const QImage placeholder(QStringLiteral(":/ZRP240x135.png"));
    return placeholder;
}

void EpisodeThumbnailView::setEpisodeImage(const QImage& image)
{
    if (image.isNull())
        return;
    m_image = image;
    m_loaded = true;
    update();
}

void EpisodeThumbnailView::setPlaceholderImage(const QImage& image)
{
    m_placeholder = image;
    if (!m_loaded)
        update();
}

void EpisodeThumbnailView::setProgramTitle(const QString& text)
{
    m_programTitle = text;
    updateAccessibleName();
    update();
}

void EpisodeThumbnailView::setEpisodeTitle(const QString& text)
{
    m_episodeTitle = text;
    updateAccessibleName();
    update();
}

void EpisodeThumbnailView::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void EpisodeThumbnailView::updateAccessibleName()
{
    QStringList parts;
    if (!m_programTitle.isEmpty())
        parts << m_programTitle;
    if (!m_episodeTitle.isEmpty())
        parts << m_episodeTitle;
    setAccessibleName(parts.isEmpty() ? QStringLiteral("Video") : parts.join(QStringLiteral(", ")));
}

QRect EpisodeThumbnailView::imageRect() const
{
    return QRect((width() - kImageWidth) / 2, kTopMargin, kImageWidth, kImageHeight);
}

QString EpisodeThumbnailView::displayedProgramTitle() const
{
    return elided(m_programTitle, Theme::font(13, true), kImageWidth);
}

QString EpisodeThumbnailView::displayedEpisodeTitle() const
{
    return elided(m_episodeTitle, Theme::font(13, false), kImageWidth);
}

void EpisodeThumbnailView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect ir = imageRect();

    if (m_selected)
        paintShadow(p, ir, Theme::accent, 10, 0.9);
    else
        paintShadow(p, ir, QColor(0, 0, 0), 2, 0.8);

    p.save();
    QPainterPath clip;
    clip.addRoundedRect(ir, Theme::cornerRadius, Theme::cornerRadius);
    p.setClipPath(clip);
    p.fillRect(ir, Theme::surfaceRaised);
    if (m_pressed)
        p.setOpacity(0.7);
    const QImage& img = m_loaded ? m_image : m_placeholder;
    if (!img.isNull())
        p.drawImage(ir, img);
    p.restore();

    if (m_selected) {
        p.setPen(QPen(Theme::accent, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(ir).adjusted(1, 1, -1, -1), Theme::cornerRadius, Theme::cornerRadius);
    }

    int y = ir.bottom() + 1 + kTextGap;
    const QString program = displayedProgramTitle();
    if (!program.isEmpty()) {
        p.setFont(Theme::font(13, true));
        p.setPen(Theme::text);
        p.drawText(QRect(ir.left(), y, kImageWidth, kLineHeight), Qt::AlignLeft | Qt::AlignVCenter, program);
        y += kLineHeight;
    }
    const QString episode = displayedEpisodeTitle();
    if (!episode.isEmpty()) {
        p.setFont(Theme::font(13, false));
        p.setPen(Theme::secondaryText);
        p.drawText(QRect(ir.left(), y, kImageWidth, kLineHeight), Qt::AlignLeft | Qt::AlignVCenter, episode);
    }
}

void EpisodeThumbnailView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        e->ignore();
        return;
    }
    m_pressed = true;
    update();
}

void EpisodeThumbnailView::mouseMoveEvent(QMouseEvent* e)
{
    const bool inside = rect().contains(e->position().toPoint());
    if (m_pressed != inside && (e->buttons() & Qt::LeftButton)) {
        m_pressed = inside;
        update();
    }
}

void EpisodeThumbnailView::mouseReleaseEvent(QMouseEvent* e)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    update();
    if (e->button() == Qt::LeftButton && wasPressed && rect().contains(e->position().toPoint()))
        emit touched(this);
}
