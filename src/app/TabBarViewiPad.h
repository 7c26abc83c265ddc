#pragma once

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QWidget>

class QPushButton;

// The segmented tab bar of the featured screen, the program list, the episode page and the
// info panel. Buttons share the width equally, 1 point apart, the last taking what remains;
// the button for index i carries tag i + 1. Arrow keys move the selection like touches do.
class TabBarViewiPad : public QWidget
{
    Q_OBJECT
public:
    explicit TabBarViewiPad(QWidget* parent = nullptr);

    void addButtonWithTitle(const QString& title);
    void removeAllButtons();
    QStringList buttonTitles() const { return m_titles; }
    QList<QPushButton*> buttonItems() const;
    QPushButton* buttonWithTag(int tag) const;

    int selectedItem() const { return m_selected; }
    // Changes the selection without telling anyone.
    void setSelectedItem(int index);
    int padding() const { return m_padding; }
    void setPadding(int points);
    void redrawButtons();

signals:
    // A touch (or key) chose a different button.
    void selectedItemChanged(int index);

protected:
    void resizeEvent(QResizeEvent*) override;
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    void touched(int index);
    void layoutButtons();
    QStringList m_titles;
    QList<QPointer<QPushButton>> m_buttons;
    int m_selected = -1;
    int m_padding = 0;
    QWidget* m_container = nullptr;
};
