#include "TableView.h"

#include "Kit.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QScroller>
#include <QVBoxLayout>

namespace zrp::ui {

TableView::TableView(QWidget* parent) : QScrollArea(parent)
{
    setObjectName(QStringLiteral("TableView"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QScroller::grabGesture(viewport(), QScroller::TouchGesture);
    m_content = new QWidget();
    m_layout = new QVBoxLayout(m_content);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    setWidget(m_content);
}

void TableView::reloadData()
{
    // Rebuilt from scratch: the lists this product shows are short.
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        if (QWidget* w = item->widget())
            w->deleteLater();
        delete item;
    }
    m_rows.clear();
    m_hasSelection = false;
    if (!m_source)
        return;
    const int sections = m_source->numberOfSections(this);
    for (int s = 0; s < sections; ++s) {
        const QString header = m_source->titleForHeaderInSection(this, s);
        if (!header.isEmpty()) {
            auto* h = new QLabel(header, m_content);
            h->setObjectName(QStringLiteral("TableSectionHeader"));
            h->setFont(Theme::font(15, true));
            h->setContentsMargins(12, 8, 12, 4);
            h->setStyleSheet(QStringLiteral("color: %1; background-color: %2;")
                                 .arg(Theme::secondaryText.name(), Theme::background.name()));
            m_layout->addWidget(h);
        }
        QList<QPointer<QWidget>> rows;
        const int n = m_source->numberOfRowsInSection(this, s);
        for (int r = 0; r < n; ++r) {
            QWidget* cell = m_source->cellForRowAtIndexPath(this, {s, r});
            if (!cell)
                cell = new QWidget();
            cell->setParent(m_content);
            cell->setFixedHeight(m_source->heightForRowAtIndexPath(this, {s, r}));
            cell->setProperty("zrpSection", s);
            cell->setProperty("zrpRow", r);
            cell->installEventFilter(this);
            m_layout->addWidget(cell);
            rows << QPointer<QWidget>(cell);
        }
        m_rows << rows;
    }
    m_layout->addStretch(1);
}

QWidget* TableView::cellForRowAtIndexPath(const IndexPath& path) const
{
    if (path.section < 0 || path.section >= m_rows.size())
        return nullptr;
    return m_rows[path.section].value(path.row).data();
}

QRect TableView::rectForRowAtIndexPath(const IndexPath& path) const
{
    QWidget* cell = cellForRowAtIndexPath(path);
    return cell ? cell->geometry() : QRect();
}

QList<IndexPath> TableView::indexPathsForVisibleRows() const
{
    QList<IndexPath> out;
    const QRect visible(0, verticalScrollBar()->value(), viewport()->width(), viewport()->height());
    for (int s = 0; s < m_rows.size(); ++s)
        for (int r = 0; r < m_rows[s].size(); ++r)
            if (m_rows[s][r] && m_rows[s][r]->geometry().intersects(visible))
                out << IndexPath{s, r};
    return out;
}

void TableView::scrollToRowAtIndexPath(const IndexPath& path, bool)
{
    if (QWidget* cell = cellForRowAtIndexPath(path)) {
        m_content->adjustSize();
        verticalScrollBar()->setValue(cell->y());
    }
}

void TableView::selectRowAtIndexPath(const IndexPath& path)
{
    if (!cellForRowAtIndexPath(path))
        return;
    m_selected = path;
    m_hasSelection = true;
    updateHighlight();
}

void TableView::deselect()
{
    m_hasSelection = false;
    updateHighlight();
}

void TableView::tapRowAtIndexPath(const IndexPath& path)
{
    if (!cellForRowAtIndexPath(path))
        return;
    selectRowAtIndexPath(path);
    emit didSelectRowAtIndexPath(path);
}

void TableView::updateHighlight()
{
    for (int s = 0; s < m_rows.size(); ++s)
        for (int r = 0; r < m_rows[s].size(); ++r)
            if (QWidget* cell = m_rows[s][r]) {
                const bool on = m_hasSelection && m_selected == IndexPath{s, r};
                cell->setProperty("zrpSelected", on);
                cell->setAutoFillBackground(on);
                QPalette pal = cell->palette();
                pal.setColor(QPalette::Window, on ? Theme::surfaceRaised : Theme::surface);
                cell->setPalette(pal);
            }
}

bool TableView::eventFilter(QObject* watched, QEvent* event)
{
    // A tap is a press and a release on the same row.
    // Only rows count: the scroll area also filters its content widget, which an ignored
    // press propagates to.
    auto* cell = qobject_cast<QWidget*>(watched);
    if (cell && !cell->property("zrpRow").isValid())
        cell = nullptr;
    if (cell && event->type() == QEvent::MouseButtonPress) {
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            m_pressed = cell;
    } else if (cell && event->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(event);
        const bool tap = m_pressed == cell && me->button() == Qt::LeftButton &&
                         cell->rect().contains(me->position().toPoint());
        m_pressed = nullptr;
        if (tap)
            tapRowAtIndexPath({cell->property("zrpSection").toInt(), cell->property("zrpRow").toInt()});
    }
    return QScrollArea::eventFilter(watched, event);
}

void TableView::keyPressEvent(QKeyEvent* e)
{
    // Arrow keys walk the rows across sections; Enter chooses.
    QList<IndexPath> all;
    for (int s = 0; s < m_rows.size(); ++s)
        for (int r = 0; r < m_rows[s].size(); ++r)
            all << IndexPath{s, r};
    if (all.isEmpty())
        return QScrollArea::keyPressEvent(e);
    int at = m_hasSelection ? int(all.indexOf(m_selected)) : -1;
    switch (e->key()) {
    case Qt::Key_Down:
        at = std::min(int(all.size()) - 1, at + 1);
        break;
    case Qt::Key_Up:
        at = std::max(0, at - 1);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_hasSelection)
            tapRowAtIndexPath(m_selected);
        return;
    default:
        return QScrollArea::keyPressEvent(e);
    }
    selectRowAtIndexPath(all[at]);
    ensureWidgetVisible(cellForRowAtIndexPath(all[at]));
}

} // namespace zrp::ui
