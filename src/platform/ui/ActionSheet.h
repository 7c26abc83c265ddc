#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QStringList>

class QWidget;

namespace zrp::ui {

class PopoverController;
class ViewController;

// A list of choices shown in a popover from a rectangle. A touch outside counts as the cancel
// button (-1 when there is none). Button indexes follow the order the buttons were added.
class ActionSheet : public QObject
{
    Q_OBJECT
public:
    explicit ActionSheet(const QString& title, QObject* parent = nullptr);
    ~ActionSheet() override;

    QString title() const { return m_title; }
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    int addButtonWithTitle(const QString& title);
    int numberOfButtons() const { return int(m_buttons.size()); }
    QString buttonTitleAtIndex(int index) const { return m_buttons.value(index); }
    int cancelButtonIndex() const { return m_cancelIndex; }
    void setCancelButtonIndex(int index) { m_cancelIndex = index; }
    int destructiveButtonIndex() const { return m_destructiveIndex; }
    void setDestructiveButtonIndex(int index) { m_destructiveIndex = index; }

    void showFromRect(const QRect& rect, QWidget* inView, bool animated);
    bool isVisible() const;
    void dismissWithClickedButtonIndex(int index, bool animated); // no clickedButtonAtIndex
    void clickButtonAtIndex(int index);                           // what a touch does
    QWidget* widget() const;

    static QList<ActionSheet*> visibleSheets();

signals:
    void clickedButtonAtIndex(int index);
    void didDismissWithButtonIndex(int index);

private:
    void finish(int index, bool clicked);
    QString m_title;
    QStringList m_buttons;
    int m_cancelIndex = -1;
    int m_destructiveIndex = -1;
    int m_tag = 0;
    ViewController* m_content = nullptr;
    PopoverController* m_popover = nullptr;
};

} // namespace zrp::ui
