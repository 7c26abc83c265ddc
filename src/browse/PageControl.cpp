#include "PageControl.h"

#include "ui/Kit.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

using namespace zrp::ui;

namespace {
constexpr int kDot = 8;
constexpr int kGap = 10;
} // namespace

PageControl::PageControl(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PageControl"));
    setAccessibleName(QStringLiteral("Page"));
    setFocusPolicy(Qt::TabFocus);
    setMinimumHeight(Theme::minimumTouchTarget);
}

void PageControl::setNumberOfPages(int pages)
{
    m_pages = std::max(0, pages);
    m_current = std::clamp(m_current, 0, std::max(0, m_pages - 1));
    updateGeometry();
    update();
}

void PageControl::setCurrentPage(int page)
{
    const int p = std::clamp(page, 0, std::max(0, m_pages - 1));
    if (p == m_current)
        return;
    m_current = p;
    setAccessibleDescription(QStringLiteral("Page %1 of %2").arg(m_current + 1).arg(m_pages));
    update();
}

QSize PageControl::sizeHint() const
{
    return QSize(std::max(Theme::minimumTouchTarget, m_pages * (kDot + kGap) + kGap),
                 Theme::minimumTouchTarget);
}

QRect PageControl::dotsRect() const
{
    const int w = m_pages * kDot + std::max(0, m_pages - 1) * kGap;
    return QRect((width() - w) / 2, (height() - kDot) / 2, w, kDot);
}

void PageControl::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QRect r = dotsRect();
    for (int i = 0; i < m_pages; ++i) {
        QColor c = i == m_current ? Theme::text : Theme::secondaryText;
        if (i != m_current)
            c.setAlphaF(0.45);
        p.setBrush(c);
        p.drawEllipse(QRectF(r.left() + i * (kDot + kGap), r.top(), kDot, kDot));
    }
    if (hasFocus()) {
        p.setPen(QPen(Theme::accent, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(r).adjusted(-8, -8, 8, 8), Theme::cornerRadius, Theme::cornerRadius);
    }
}

void PageControl::step(int delta)
{
    if (m_pages <= 0)
        return;
    const int next = std::clamp(m_current + delta, 0, m_pages - 1);
    if (next == m_current)
        return;
    setCurrentPage(next);
    emit valueChanged(m_current);
}

void PageControl::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !rect().contains(e->position().toPoint()))
        return;
    const QRect r = dotsRect();
    const qreal currentCentre = r.left() + m_current * (kDot + kGap) + kDot / 2.0;
    step(e->position().x() < currentCentre ? -1 : 1);
}

void PageControl::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Left)
        step(-1);
    else if (e->key() == Qt::Key_Right)
        step(1);
    else
        QWidget::keyPressEvent(e);
}
