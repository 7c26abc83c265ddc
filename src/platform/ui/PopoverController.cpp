#include "PopoverController.h"

#include "Kit.h"
#include "ViewController.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace zrp::ui {

namespace {
constexpr int kArrow = 13; // arrow depth
constexpr int kBorder = 6; // frame around the content
constexpr int kMargin = 8; // distance kept from the window's edges
} // namespace

class PopoverController::Frame : public QFrame
{
public:
    explicit Frame(QWidget* parent) : QFrame(parent)
    {
        setObjectName(QStringLiteral("Popover"));
        setAttribute(Qt::WA_StyledBackground, false);
        setFocusPolicy(Qt::StrongFocus);
        auto* l = new QVBoxLayout(this);
        l->setSpacing(0);
    }
    Arrow arrow = ArrowUp;
    int arrowOffset = 0; // along the edge, from the frame's corner

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QRectF body = rect().adjusted(0.5, 0.5, -0.5, -0.5);
        switch (arrow) {
        case ArrowUp:
            body.adjust(0, kArrow, 0, 0);
            break;
        case ArrowDown:
            body.adjust(0, 0, 0, -kArrow);
            break;
        case ArrowLeft:
            body.adjust(kArrow, 0, 0, 0);
            break;
        case ArrowRight:
            body.adjust(0, 0, -kArrow, 0);
            break;
        default:
            break;
        }
        QPainterPath path;
        path.addRoundedRect(body, Theme::cornerRadius * 2, Theme::cornerRadius * 2);
        QPolygonF tip;
        const qreal a = arrowOffset;
        switch (arrow) {
        case ArrowUp:
            tip << QPointF(a - kArrow, body.top() + 1) << QPointF(a, 0)
                << QPointF(a + kArrow, body.top() + 1);
            break;
        case ArrowDown:
            tip << QPointF(a - kArrow, body.bottom() - 1) << QPointF(a, height())
                << QPointF(a + kArrow, body.bottom() - 1);
            break;
        case ArrowLeft:
            tip << QPointF(body.left() + 1, a - kArrow) << QPointF(0, a)
                << QPointF(body.left() + 1, a + kArrow);
            break;
        case ArrowRight:
            tip << QPointF(body.right() - 1, a - kArrow) << QPointF(width(), a)
                << QPointF(body.right() - 1, a + kArrow);
            break;
        default:
            break;
        }
        path.addPolygon(tip);
        path.setFillRule(Qt::WindingFill);
        // Soft shadow first, then the panel.
        p.fillPath(path.translated(0, 3), QColor(0, 0, 0, 90));
        p.fillPath(path.simplified(), Theme::surface);
        p.setPen(QPen(Theme::separator, 1));
        p.drawPath(path.simplified());
    }
};

PopoverController::Frame* PopoverController::panel() const
{
    return static_cast<Frame*>(m_frame.data());
}

PopoverController::PopoverController(ViewController* content, QObject* parent)
    : QObject(parent), m_content(content)
{}

PopoverController::~PopoverController()
{
    qApp->removeEventFilter(this);
    if (m_frame) {
        // The content's view belongs to its controller, not to us.
        if (m_content && m_content->isViewLoaded() && m_content->view()->parent() == m_frame)
            m_content->view()->setParent(nullptr);
        delete m_frame.data();
    }
}

void PopoverController::setContentViewController(ViewController* content)
{
    if (m_content == content)
        return;
    const bool shown = m_visible;
    if (m_content && m_content->isViewLoaded() && m_frame && m_content->view()->parent() == m_frame) {
        if (shown)
            m_content->willDisappear(false);
        m_content->view()->hide();
        m_content->view()->setParent(nullptr);
        if (shown)
            m_content->didDisappear(false);
    }
    m_content = content;
    if (shown && m_frame && m_content) {
        m_content->willAppear(false);
        m_frame->layout()->addWidget(m_content->view());
        m_content->view()->show();
        layoutFrame();
        m_content->didAppear(false);
    }
}

QSize PopoverController::popoverContentSize() const
{
    if (m_size.isValid())
        return m_size;
    if (m_content && m_content->contentSizeForViewInPopover().isValid())
        return m_content->contentSizeForViewInPopover();
    return QSize(320, 480);
}

void PopoverController::setPopoverContentSize(const QSize& size)
{
    m_size = size;
    if (m_visible)
        layoutFrame();
}

void PopoverController::setPassthroughViews(const QList<QWidget*>& views)
{
    m_passthrough.clear();
    for (QWidget* w : views)
        m_passthrough << QPointer<QWidget>(w);
}

bool PopoverController::isPopoverVisible() const
{
    return m_visible && m_frame && m_frame->isVisible();
}

void PopoverController::presentPopoverFromRect(const QRect& rect, QWidget* inView, int arrows, bool)
{
    if (!inView || !m_content)
        return;
    QWidget* window = inView->window();
    if (m_frame && m_frame->parentWidget() != window) {
        delete m_frame.data();
        m_frame = nullptr;
    }
    if (!m_frame)
        m_frame = new Frame(window);
    m_anchor = QRect(inView->mapTo(window, rect.topLeft()), rect.size());
    m_anchorView = inView;
    m_arrows = arrows ? arrows : ArrowAny;
    const bool wasVisible = m_visible;
    if (!wasVisible)
        m_content->willAppear(false);
    if (m_content->view()->parent() != m_frame)
        m_frame->layout()->addWidget(m_content->view());
    m_content->view()->show();
    layoutFrame();
    m_frame->show();
    m_frame->raise();
    m_frame->setFocus();
    m_visible = true;
    qApp->installEventFilter(this);
    if (!wasVisible)
        m_content->didAppear(false);
}

void PopoverController::layoutFrame()
{
    if (!m_frame)
        return;
    QWidget* window = m_frame->parentWidget();
    const QSize content = popoverContentSize();
    const QRect area = window->rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    const QSize vertical(content.width() + 2 * kBorder, content.height() + 2 * kBorder + kArrow);
    const QSize horizontal(content.width() + 2 * kBorder + kArrow, content.height() + 2 * kBorder);

    // Prefer the side with room: below, above, right, left.
    Arrow arrow = ArrowUp;
    if ((m_arrows & ArrowUp) && m_anchor.bottom() + vertical.height() <= area.bottom())
        arrow = ArrowUp;
    else if ((m_arrows & ArrowDown) && m_anchor.top() - vertical.height() >= area.top())
        arrow = ArrowDown;
    else if ((m_arrows & ArrowLeft) && m_anchor.right() + horizontal.width() <= area.right())
        arrow = ArrowLeft;
    else if ((m_arrows & ArrowRight) && m_anchor.left() - horizontal.width() >= area.left())
        arrow = ArrowRight;

    QRect r;
    if (arrow == ArrowUp || arrow == ArrowDown) {
        r.setSize(vertical);
        int x = m_anchor.center().x() - vertical.width() / 2;
        x = std::clamp(x, area.left(), std::max(area.left(), area.right() - vertical.width()));
        const int y = arrow == ArrowUp ? m_anchor.bottom() : m_anchor.top() - vertical.height();
        r.moveTo(x, std::max(area.top(), y));
        panel()->arrowOffset =
            std::clamp(m_anchor.center().x() - x, kArrow + 6, vertical.width() - kArrow - 6);
        m_frame->layout()->setContentsMargins(kBorder, kBorder + (arrow == ArrowUp ? kArrow : 0), kBorder,
                                              kBorder + (arrow == ArrowDown ? kArrow : 0));
    } else {
        r.setSize(horizontal);
        int y = m_anchor.center().y() - horizontal.height() / 2;
        y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() - horizontal.height()));
        const int x = arrow == ArrowLeft ? m_anchor.right() : m_anchor.left() - horizontal.width();
        r.moveTo(x, y);
        panel()->arrowOffset =
            std::clamp(m_anchor.center().y() - y, kArrow + 6, horizontal.height() - kArrow - 6);
        m_frame->layout()->setContentsMargins(kBorder + (arrow == ArrowLeft ? kArrow : 0), kBorder,
                                              kBorder + (arrow == ArrowRight ? kArrow : 0), kBorder);
    }
    m_arrow = arrow;
    panel()->arrow = arrow;
    m_frame->setGeometry(r);
    // Lay the content out now, not on a later turn: a touch may come before that turn.
    m_frame->layout()->activate();
    m_frame->update();
}

void PopoverController::dismissPopoverAnimated(bool)
{
    dismiss(false);
}

void PopoverController::dismiss(bool byUser)
{
    if (!m_visible)
        return;
    m_visible = false;
    qApp->removeEventFilter(this);
    if (m_content)
        m_content->willDisappear(false);
    if (m_frame)
        m_frame->hide();
    if (m_content)
        m_content->didDisappear(false);
    if (byUser)
        emit didDismissPopover();
}

bool PopoverController::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_visible || !m_frame)
        return false;
    const QEvent::Type t = event->type();
    if (t == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && (w == m_frame || m_frame->isAncestorOf(w))) {
            dismiss(true);
            return true;
        }
        return false;
    }
    if (t != QEvent::MouseButtonPress && t != QEvent::TouchBegin)
        return false;
    // An ignored press travels up to the parents with the same event; only the widget that
    // first received it tells where the touch was.
    const quint64 stamp = static_cast<QInputEvent*>(event)->timestamp();
    if (event == m_lastPress && stamp == m_lastPressTime)
        return false;
    m_lastPress = event;
    m_lastPressTime = stamp;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != m_frame->window())
        return false;
    if (w == m_frame || m_frame->isAncestorOf(w))
        return false;
    for (const auto& p : m_passthrough)
        if (p && (p == w || p->isAncestorOf(w)))
            return false;
    // A later popover or alert above us handles its own touches.
    for (QWidget* above = w; above; above = above->parentWidget())
        if (above->property("zrpOverlay").toBool())
            return false;
    dismiss(true);
    return true;
}

} // namespace zrp::ui
