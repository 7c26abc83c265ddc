#include "LoadingOverlay.h"

#include "ActivityIndicatorView.h"
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
    m_spinner = new ActivityIndicatorView(this);
    m_spinner->move((width() - m_spinner->width()) / 2, (height() - m_spinner->height()) / 2 - 14);
    QWidget::hide();
    if (parent)
        parent->installEventFilter(this);
}

LoadingOverlay::~LoadingOverlay() = default;

int LoadingOverlay::spinnerStep() const
{
    return m_spinner->step();
}

void LoadingOverlay::show(bool)
{
    recentre();
    QWidget::show();
    raise();
    m_spinner->startAnimating();
}

void LoadingOverlay::hide(bool)
{
    QWidget::hide();
    m_spinner->stopAnimating();
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
    p.setPen(Theme::text);
    p.setFont(Theme::font(17, true));
    p.drawText(QRect(0, height() - 62, width(), 30), Qt::AlignCenter, m_label);
}

} // namespace zrp::ui
