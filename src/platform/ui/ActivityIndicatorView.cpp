#include "ActivityIndicatorView.h"

#include "Kit.h"

#include <QPainter>
#include <QPointer>

namespace zrp::ui {

ActivityIndicatorView::ActivityIndicatorView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ActivityIndicatorView"));
    setAccessibleName(tr("Loading"));
    setFixedSize(66, 66);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QWidget::hide();
}

ActivityIndicatorView::~ActivityIndicatorView()
{
    if (m_spin)
        m_spin->invalidate();
}

void ActivityIndicatorView::startAnimating()
{
    show();
    raise();
    if (m_spin)
        return;
    QPointer<ActivityIndicatorView> self(this);
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

void ActivityIndicatorView::stopAnimating()
{
    if (m_spin) {
        m_spin->invalidate();
        m_spin.reset();
    }
    if (m_hidesWhenStopped)
        hide();
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides)
{
    m_hidesWhenStopped = hides;
    if (hides && !m_spin)
        hide();
}

void ActivityIndicatorView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintSpinner(p, QPointF(width() / 2.0, height() / 2.0), m_step);
}

} // namespace zrp::ui
