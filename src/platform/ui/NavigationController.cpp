#include "NavigationController.h"

#include "Kit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace zrp::ui {

NavigationController::NavigationController(ViewController* root, QObject* parent) : ViewController(parent)
{
    if (root)
        pushViewController(root, false);
}

NavigationController::~NavigationController()
{
    // Children's views live inside ours; delete the controllers (and their views) first.
    const auto stack = m_stack;
    m_stack.clear();
    for (ViewController* vc : stack) {
        vc->m_navigation = nullptr;
        delete vc;
    }
}

QWidget* NavigationController::loadView()
{
    auto* root = new QWidget();
    root->setObjectName(QStringLiteral("NavigationController"));
    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_bar = new QWidget(root);
    m_bar->setObjectName(QStringLiteral("NavigationBar"));
    m_bar->setFixedHeight(44);
    m_bar->setStyleSheet(
        QStringLiteral("#NavigationBar { background-color: %1; border-bottom: 1px solid %2; }")
            .arg(Theme::surfaceRaised.name(), Theme::separator.name()));
    auto* barLayout = new QHBoxLayout(m_bar);
    barLayout->setContentsMargins(6, 0, 6, 0);
    m_back = new QPushButton(tr("Back"), m_bar);
    m_back->setObjectName(QStringLiteral("BackButton"));
    m_back->setAccessibleName(tr("Back"));
    m_back->setMinimumSize(Theme::minimumTouchTarget, 32);
    m_back->setShortcut(QKeySequence(Qt::Key_Backspace));
    connect(m_back, &QPushButton::clicked, this, [this] { popViewControllerAnimated(true); });
    m_titleLabel = new QLabel(m_bar);
    m_titleLabel->setObjectName(QStringLiteral("NavigationTitle"));
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setFont(Theme::font(17, true));
    barLayout->addWidget(m_back);
    barLayout->addWidget(m_titleLabel, 1);
    barLayout->addSpacing(Theme::minimumTouchTarget);
    column->addWidget(m_bar);

    auto* content = new QWidget(root);
    m_stackLayout = new QStackedLayout(content);
    column->addWidget(content, 1);

    m_toolbar = new QWidget(root);
    m_toolbar->setObjectName(QStringLiteral("Toolbar"));
    m_toolbar->setFixedHeight(44);
    m_toolbar->setStyleSheet(QStringLiteral("#Toolbar { background-color: %1; border-top: 1px solid %2; }")
                                 .arg(Theme::surfaceRaised.name(), Theme::separator.name()));
    new QHBoxLayout(m_toolbar);
    column->addWidget(m_toolbar);

    for (ViewController* vc : m_stack)
        m_stackLayout->addWidget(vc->view());
    if (!m_stack.isEmpty())
        m_stackLayout->setCurrentWidget(m_stack.last()->view());
    m_bar->setVisible(!m_barHidden);
    m_toolbar->setVisible(!m_toolbarHidden);
    updateBar();
    return root;
}

QWidget* NavigationController::toolbar()
{
    view();
    return m_toolbar;
}

void NavigationController::pushViewController(ViewController* vc, bool animated)
{
    if (!vc || m_stack.contains(vc))
        return;
    ViewController* previous = topViewController();
    const bool shown = isAppeared();
    vc->setParent(this);
    vc->m_navigation = this;
    if (shown && previous)
        previous->willDisappear(animated);
    if (shown)
        vc->willAppear(animated);
    m_stack.append(vc);
    connect(vc, &ViewController::titleChanged, this, &NavigationController::updateBar, Qt::UniqueConnection);
    if (isViewLoaded()) {
        m_stackLayout->addWidget(vc->view());
        m_stackLayout->setCurrentWidget(vc->view());
    }
    updateBar();
    if (shown && previous)
        previous->didDisappear(animated);
    if (shown)
        vc->didAppear(animated);
    emit stackChanged();
}

ViewController* NavigationController::popViewControllerAnimated(bool animated)
{
    if (m_stack.size() < 2)
        return nullptr;
    ViewController* top = m_stack.takeLast();
    ViewController* below = m_stack.last();
    const bool shown = isAppeared();
    if (shown) {
        top->willDisappear(animated);
        below->willAppear(animated);
    }
    if (isViewLoaded()) {
        m_stackLayout->setCurrentWidget(below->view());
        if (top->isViewLoaded())
            m_stackLayout->removeWidget(top->view());
    }
    updateBar();
    if (shown) {
        top->didDisappear(animated);
        below->didAppear(animated);
    }
    top->m_navigation = nullptr;
    disconnect(top, nullptr, this, nullptr);
    // The popped screen goes on the next turn, so a pop from its own button is safe.
    top->deleteLater();
    emit stackChanged();
    return top;
}

void NavigationController::popToRootViewControllerAnimated(bool animated)
{
    while (m_stack.size() > 1)
        popViewControllerAnimated(animated);
}

void NavigationController::setNavigationBarHidden(bool hidden)
{
    m_barHidden = hidden;
    if (m_bar)
        m_bar->setVisible(!hidden);
}

void NavigationController::setToolbarHidden(bool hidden)
{
    m_toolbarHidden = hidden;
    if (m_toolbar)
        m_toolbar->setVisible(!hidden);
}

void NavigationController::updateBar()
{
    if (!m_bar)
        return;
    ViewController* top = topViewController();
    const QString title = top ? top->title() : QString();
    m_titleLabel->setText(elided(title, m_titleLabel->font(), std::max(120, m_bar->width() - 140)));
    m_titleLabel->setAccessibleName(title);
    const bool canGoBack = m_stack.size() > 1;
    m_back->setVisible(canGoBack);
    if (canGoBack) {
        const QString previous = m_stack[m_stack.size() - 2]->title();
        m_back->setText(previous.isEmpty() ? tr("Back") : elided(previous, m_back->font(), 120));
    }
}

void NavigationController::viewWillAppear(bool animated)
{
    if (auto* top = topViewController())
        top->willAppear(animated);
}

void NavigationController::viewDidAppear(bool animated)
{
    if (auto* top = topViewController())
        top->didAppear(animated);
}

void NavigationController::viewWillDisappear(bool animated)
{
    if (auto* top = topViewController())
        top->willDisappear(animated);
}

void NavigationController::viewDidDisappear(bool animated)
{
    if (auto* top = topViewController())
        top->didDisappear(animated);
}

} // namespace zrp::ui
