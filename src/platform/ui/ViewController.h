#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>

namespace zrp::ui {

class NavigationController;

// A screen: owns a lazily built view and follows the will/did appear/disappear/unload
// lifecycle. Containers (navigation stacks, popovers, the hub) drive the lifecycle calls.
class ViewController : public QObject
{
    Q_OBJECT
public:
    explicit ViewController(QObject* parent = nullptr);
    ~ViewController() override;

    // Builds the view on first use: loadView() then viewDidLoad().
    QWidget* view();
    bool isViewLoaded() const { return !m_view.isNull(); }
    // Drops the view (it is deleted) and calls viewDidUnload(); the next view() builds it again.
    void unloadView();

    QString title() const { return m_title; }
    void setTitle(const QString& title);

    // The size the view asks for inside a popover; empty means "the view's own size".
    QSize contentSizeForViewInPopover() const { return m_popoverSize; }
    void setContentSizeForViewInPopover(const QSize& s) { m_popoverSize = s; }

    NavigationController* navigationController() const { return m_navigation; }

    // Lifecycle, called by whoever shows the view; each calls the matching hook below.
    void willAppear(bool animated);
    void didAppear(bool animated);
    void willDisappear(bool animated);
    void didDisappear(bool animated);
    bool isAppeared() const { return m_appeared; }

    // A screen shown over this one's view, centred on a dimmed backdrop that takes every touch
    // meant for what lies below, until it is dismissed. The presenter does not own it.
    void presentModalViewController(ViewController* modal, bool animated);
    void dismissModalViewControllerAnimated(bool animated);
    ViewController* modalViewController() const { return m_modal; }

signals:
    void titleChanged(const QString& title);

protected:
    // Default: an empty widget of the preferred size.
    virtual QWidget* loadView();
    virtual void viewDidLoad() {}
    virtual void viewDidUnload() {}
    virtual void viewWillAppear(bool) {}
    virtual void viewDidAppear(bool) {}
    virtual void viewWillDisappear(bool) {}
    virtual void viewDidDisappear(bool) {}
    virtual QSize preferredViewSize() const { return QSize(768, 948); }

private:
    friend class NavigationController;
    QPointer<QWidget> m_view;
    QString m_title;
    QSize m_popoverSize;
    NavigationController* m_navigation = nullptr;
    bool m_appeared = false;
    QPointer<ViewController> m_modal;
    QPointer<QWidget> m_modalBackdrop;
};

} // namespace zrp::ui
