#include "LoadingOverlay.h"

#include "Kit.h"

#include <QEvent>
#include <QPainter>

namespace zrp::ui {

LoadingOverlay::LoadingOverlay(QWidget* parent, const QString& label) : QWidget(parent), m_label(label)
{
    setObjectName(QStringLiteral("LoadingOverlay"));
    setAccessibleName(label);
    setProperty("zrpOverlay", true);
    setFixedSize(200, 200);
    setAttribute(Qt::WA_TranslucentBackground);
    QWidget::hide();
    if (parent)
        parent->installEventFilter(this);
}

LoadingOverlay::~LoadingOverlay()
{
    if (m_spin)
        m_spin->invalidate();
}

void LoadingOverlay::show(bool)
{
    recentre();
    QWidget::show();
    raise();
    if (!m_spin) {
        // The spinner's frames follow the shared clock like every other timer.
        QPointer<LoadingOverlay> self(this);
        m_spin = Timer::scheduled(
            80, true,
            [self] {
                if (self) {
                    self->m_step = (self->m_step + 1) % 12;
                    self->update();
                }
            },
            this);
    }
}

void LoadingOverlay::hide(bool)
{
    QWidget::hide();
    if (m_spin) {
        m_spin->invalidate();
        m_spin.reset();
    }
}

void LoadingOverlay::recentre()
{
    if (parentWidget())
        move((parentWidget()->width() - width()) / 2, (parentWidget()->height() - height()) / 2);
}

bool LoadingOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        recentre();
    return QWidget::eventFilter(watched, event);
}

void LoadingOverlay::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 128)); // opacity 0.5
    p.drawRoundedRect(rect(), 12, 12);
    paintSpinner(p, QPointF(width() / 2.0, height() / 2.0 - 14), m_step);
    p.setPen(Theme::text);
    p.setFont(Theme::font(17, true));
    p.drawText(QRect(0, height() - 62, width(), 30), Qt::AlignCenter, m_label);
}

} // namespace zrp::ui
