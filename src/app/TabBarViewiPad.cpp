#include "TabBarViewiPad.h"

#include "ui/Kit.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>

using namespace zrp::ui;

TabBarViewiPad::TabBarViewiPad(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TabBarViewiPad"));
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(Theme::minimumTouchTarget);
    m_container = new QWidget(this);
    m_container->setObjectName(QStringLiteral("TabBarButtonContainer"));
}

void TabBarViewiPad::addButtonWithTitle(const QString& title)
{
    const int index = int(m_titles.size());
    m_titles << title;
    auto* b = new QPushButton(title, m_container);
    b->setObjectName(QStringLiteral("TabButton%1").arg(index + 1));
    b->setProperty("tag", index + 1);
    b->setAccessibleName(title);
    b->setCheckable(true);
    b->setFocusPolicy(Qt::NoFocus); // the bar takes the keys as a whole
    b->setFont(Theme::font(14, true));
    b->setMinimumHeight(Theme::minimumTouchTarget);
    connect(b, &QPushButton::clicked, this, [this, index] { touched(index); });
    b->show();
    m_buttons << QPointer<QPushButton>(b);
    redrawButtons();
}

void TabBarViewiPad::removeAllButtons()
{
    for (const auto& b : m_buttons)
        delete b.data();
    m_buttons.clear();
    m_titles.clear();
    m_selected = -1;
}

QList<QPushButton*> TabBarViewiPad::buttonItems() const
{
    QList<QPushButton*> out;
    for (const auto& b : m_buttons)
        out << b.data();
    return out;
}

QPushButton* TabBarViewiPad::buttonWithTag(int tag) const
{
    return m_buttons.value(tag - 1).data();
}

void TabBarViewiPad::touched(int index)
{
    if (index == m_selected) {
        // Touching the selected button changes nothing; keep it looking selected.
        if (auto* b = m_buttons.value(index).data())
            b->setChecked(true);
        return;
    }
    setSelectedItem(index);
    emit selectedItemChanged(index);
}

void TabBarViewiPad::setSelectedItem(int index)
{
    m_selected = index;
    for (int i = 0; i < m_buttons.size(); ++i)
        if (m_buttons[i])
            m_buttons[i]->setChecked(i == index);
}

void TabBarViewiPad::setPadding(int points)
{
    m_padding = points;
    redrawButtons();
}

void TabBarViewiPad::redrawButtons()
{
    layoutButtons();
    setSelectedItem(m_selected);
    update();
}

void TabBarViewiPad::resizeEvent(QResizeEvent*)
{
    layoutButtons();
}

void TabBarViewiPad::layoutButtons()
{
    m_container->setGeometry(m_padding, 0, std::max(0, width() - 2 * m_padding), height());
    const int n = int(m_buttons.size());
    if (n == 0)
        return;
    const int w = m_container->width();
    const int each = std::max(0, (w - (n - 1)) / n);
    int x = 0;
    for (int i = 0; i < n; ++i) {
        const int bw = i == n - 1 ? std::max(0, w - x) : each;
        if (m_buttons[i]) {
            m_buttons[i]->setGeometry(x, 0, bw, m_container->height());
            m_buttons[i]->setText(elided(m_titles[i], m_buttons[i]->font(), bw - 12));
        }
        x += bw + 1;
    }
}

void TabBarViewiPad::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2b, 0x2e, 0x32)); // dark grey container
    p.drawRoundedRect(m_container->geometry(), Theme::cornerRadius, Theme::cornerRadius);
}

void TabBarViewiPad::keyPressEvent(QKeyEvent* e)
{
    const int n = int(m_buttons.size());
    if (n == 0)
        return QWidget::keyPressEvent(e);
    if (e->key() == Qt::Key_Right)
        touched(std::min(n - 1, m_selected + 1));
    else if (e->key() == Qt::Key_Left)
        touched(std::max(0, m_selected - 1));
    else
        QWidget::keyPressEvent(e);
}
