#include "ActionSheet.h"

#include "Kit.h"
#include "PopoverController.h"
#include "ViewController.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zrp::ui {

namespace {
QList<QPointer<ActionSheet>>& registry()
{
    static QList<QPointer<ActionSheet>> list;
    return list;
}

constexpr int kRowHeight = 44;
constexpr int kWidth = 280;
} // namespace

ActionSheet::ActionSheet(const QString& title, QObject* parent) : QObject(parent), m_title(title)
{
    m_content = new ViewController(this);
    m_popover = new PopoverController(m_content, this);
    connect(m_popover, &PopoverController::didDismissPopover, this, [this] {
        // The popover is already gone; tell the owner as if cancelled.
        registry().removeAll(QPointer<ActionSheet>(this));
        QPointer<ActionSheet> self(this);
        emit clickedButtonAtIndex(m_cancelIndex);
        if (self)
            emit didDismissWithButtonIndex(m_cancelIndex);
    });
}

ActionSheet::~ActionSheet() = default;

int ActionSheet::addButtonWithTitle(const QString& title)
{
    m_buttons << title;
    return int(m_buttons.size()) - 1;
}

QList<ActionSheet*> ActionSheet::visibleSheets()
{
    QList<ActionSheet*> out;
    for (const auto& s : registry())
        if (s && s->isVisible())
            out << s.data();
    return out;
}

QWidget* ActionSheet::widget() const
{
    return m_popover->frame();
}

bool ActionSheet::isVisible() const
{
    return m_popover->isPopoverVisible();
}

void ActionSheet::showFromRect(const QRect& rect, QWidget* inView, bool animated)
{
    QWidget* v = m_content->view();
    delete v->layout();
    qDeleteAll(v->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
    auto* column = new QVBoxLayout(v);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(4);
    int height = 8;
    if (!m_title.isEmpty()) {
        auto* t = new QLabel(m_title, v);
        t->setObjectName(QStringLiteral("ActionSheetTitle"));
        t->setAlignment(Qt::AlignCenter);
        t->setWordWrap(true);
        t->setFont(Theme::font(13));
        t->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::secondaryText.name()));
        column->addWidget(t);
        height += t->heightForWidth(kWidth) + 4;
    }
    for (int i = 0; i < m_buttons.size(); ++i) {
        // On a tablet the cancel choice is the touch outside, not a button.
        if (i == m_cancelIndex)
            continue;
        auto* b = new QPushButton(m_buttons[i], v);
        b->setObjectName(QStringLiteral("ActionSheetButton%1").arg(i));
        b->setAccessibleName(m_buttons[i]);
        b->setMinimumHeight(kRowHeight);
        if (i == m_destructiveIndex)
            b->setStyleSheet(QStringLiteral("color: #ff6b60;"));
        connect(b, &QPushButton::clicked, this, [this, i] { clickButtonAtIndex(i); });
        column->addWidget(b);
        height += kRowHeight + 4;
    }
    m_popover->setPopoverContentSize(QSize(kWidth, height));
    registry().removeAll(nullptr);
    registry().removeAll(QPointer<ActionSheet>(this));
    registry().append(this);
    m_popover->presentPopoverFromRect(rect, inView, PopoverController::ArrowAny, animated);
}

void ActionSheet::dismissWithClickedButtonIndex(int index, bool)
{
    finish(index, false);
}

void ActionSheet::clickButtonAtIndex(int index)
{
    if (index < -1 || index >= m_buttons.size())
        return;
    finish(index, true);
}

void ActionSheet::finish(int index, bool clicked)
{
    if (!isVisible())
        return;
    m_popover->dismissPopoverAnimated(false);
    registry().removeAll(QPointer<ActionSheet>(this));
    QPointer<ActionSheet> self(this);
    if (clicked)
        emit clickedButtonAtIndex(index);
    if (self)
        emit didDismissWithButtonIndex(index);
}

} // namespace zrp::ui
