#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <QWidget>

namespace zrp::ui {

// A non-modal alert: it does not block the run loop; the answer arrives through
// clickedButtonAtIndex (a touch, Enter or Escape) and didDismissWithButtonIndex. The cancel
// button, when there is one, has index 0 and the others follow in order. An alert without a
// parent deletes itself after it is dismissed; one with a parent can be shown again.
class AlertView : public QObject
{
    Q_OBJECT
public:
    AlertView(const QString& title, const QString& message, const QString& cancelButtonTitle,
              const QStringList& otherButtonTitles, QObject* parent = nullptr);
    ~AlertView() override;

    QString title() const { return m_title; }
    QString message() const { return m_message; }
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    int addButtonWithTitle(const QString& title);
    int numberOfButtons() const { return int(m_buttons.size()); }
    QString buttonTitleAtIndex(int index) const { return m_buttons.value(index); }
    int cancelButtonIndex() const { return m_cancelIndex; }

    void show(); // in ui::mainWindow()
    bool isVisible() const;
    // Dismisses as if by that button, without clickedButtonAtIndex.
    void dismissWithClickedButtonIndex(int index, bool animated);
    // What a touch on a button does: clickedButtonAtIndex, then the dismissal.
    void clickButtonAtIndex(int index);
    QWidget* widget() const { return m_overlay; }

    // Every alert on screen, oldest first (tests and the splash use it).
    static QList<AlertView*> visibleAlerts();

signals:
    void clickedButtonAtIndex(int index);
    void didDismissWithButtonIndex(int index);

private:
    void build(QWidget* window);
    void dropOverlay();
    void finish(int index, bool clicked);
    QString m_title;
    QString m_message;
    QStringList m_buttons;
    int m_cancelIndex = -1;
    int m_tag = 0;
    QPointer<QWidget> m_overlay;
};

// Opens a link outside the app (openExternalUrl); when that cannot be done the viewer is told
// with a "Can't Open Link" alert instead of nothing happening.
bool openExternalUrlOrTell(const QUrl& url);

} // namespace zrp::ui
