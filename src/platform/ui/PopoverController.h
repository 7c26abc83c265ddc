#pragma once

#include <QFrame>
#include <QList>
#include <QPointer>
#include <QRect>

namespace zrp::ui {

class ViewController;

// A panel anchored to a rectangle with an arrow. A touch outside it (except on the passthrough
// views) dismisses it and is reported through didDismissPopover; dismissing by code reports
// nothing. Escape dismisses it like a touch outside.
class PopoverController : public QObject
{
    Q_OBJECT
public:
    enum Arrow
    {
        ArrowUp = 1,
        ArrowDown = 2,
        ArrowLeft = 4,
        ArrowRight = 8,
        ArrowAny = 15
    };

    explicit PopoverController(ViewController* content, QObject* parent = nullptr);
    ~PopoverController() override;

    ViewController* contentViewController() const { return m_content; }
    void setContentViewController(ViewController* content); // not owned
    QSize popoverContentSize() const;
    void setPopoverContentSize(const QSize& size);

    // rect is in inView's coordinates.
    void presentPopoverFromRect(const QRect& rect, QWidget* inView, int arrows, bool animated);
    void dismissPopoverAnimated(bool animated);
    bool isPopoverVisible() const;

    void setPassthroughViews(const QList<QWidget*>& views);
    QWidget* frame() const { return m_frame; }
    Arrow arrowDirection() const { return m_arrow; }

signals:
    void didDismissPopover(); // the user dismissed it (touch outside, Escape)

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Frame;
    void layoutFrame();
    void dismiss(bool byUser);
    QPointer<ViewController> m_content;
    QPointer<QFrame> m_frame;
    Frame* panel() const;
    QSize m_size;
    QRect m_anchor;
    QPointer<QWidget> m_anchorView;
    int m_arrows = ArrowAny;
    Arrow m_arrow = ArrowUp;
    QList<QPointer<QWidget>> m_passthrough;
    bool m_visible = false;
    const QEvent* m_lastPress = nullptr;
    quint64 m_lastPressTime = 0;
};

} // namespace zrp::ui
