#pragma once

#include "ViewController.h"

#include <QList>

class QLabel;
class QPushButton;
class QStackedLayout;
class QWidget;

namespace zrp::ui {

// A stack of screens under a title bar with a back button, and an optional toolbar.
// It owns the controllers pushed on it.
class NavigationController : public ViewController
{
    Q_OBJECT
public:
    explicit NavigationController(ViewController* root, QObject* parent = nullptr);
    ~NavigationController() override;

    void pushViewController(ViewController* vc, bool animated);
    // Returns the popped screen; it is deleted on the next turn of the run loop.
    ViewController* popViewControllerAnimated(bool animated);
    void popToRootViewControllerAnimated(bool animated);

    QList<ViewController*> viewControllers() const { return m_stack; }
    ViewController* topViewController() const { return m_stack.isEmpty() ? nullptr : m_stack.last(); }
    ViewController* visibleViewController() const { return topViewController(); }

    void setNavigationBarHidden(bool hidden);
    bool isNavigationBarHidden() const { return m_barHidden; }
    void setToolbarHidden(bool hidden);
    bool isToolbarHidden() const { return m_toolbarHidden; }
    // The toolbar's content area; screens put their buttons in it.
    QWidget* toolbar();
    QPushButton* backButton() const { return m_back; }
    QLabel* titleLabel() const { return m_titleLabel; }

signals:
    void stackChanged();

protected:
    QWidget* loadView() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;

private:
    void updateBar();
    QList<ViewController*> m_stack;
    QWidget* m_bar = nullptr;
    QLabel* m_titleLabel = nullptr;
    QPushButton* m_back = nullptr;
    QWidget* m_toolbar = nullptr;
    QStackedLayout* m_stackLayout = nullptr;
    bool m_barHidden = false;
    bool m_toolbarHidden = true;
};

} // namespace zrp::ui
