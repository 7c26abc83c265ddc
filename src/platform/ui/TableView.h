#pragma once

#include <QList>
#include <QPointer>
#include <QScrollArea>

class QVBoxLayout;

namespace zrp::ui {

struct IndexPath
{
    int section = 0;
    int row = 0;
    bool operator==(const IndexPath&) const = default;
};

class TableView;

// What a table shows; implemented by the screen that owns the table (not owned).
class TableViewDataSource
{
public:
    virtual ~TableViewDataSource() = default;
    virtual int numberOfSections(TableView*) { return 1; }
    virtual int numberOfRowsInSection(TableView*, int section) = 0;
    // A new cell widget for the row; the table owns it.
    virtual QWidget* cellForRowAtIndexPath(TableView*, const IndexPath& path) = 0;
    virtual int heightForRowAtIndexPath(TableView*, const IndexPath&) { return 44; }
    virtual QString titleForHeaderInSection(TableView*, int) { return QString(); }
};

// Rows in sections with optional header titles, built by reloadData(). Rows are chosen by a
// touch or click, or with the arrow keys and Enter; kinetic scrolling follows the finger.
class TableView : public QScrollArea
{
    Q_OBJECT
public:
    explicit TableView(QWidget* parent = nullptr);

    void setDataSource(TableViewDataSource* source) { m_source = source; }
    void reloadData();

    int numberOfSections() const { return int(m_rows.size()); }
    int numberOfRowsInSection(int section) const { return m_rows.value(section).size(); }
    QWidget* cellForRowAtIndexPath(const IndexPath& path) const;
    QRect rectForRowAtIndexPath(const IndexPath& path) const; // in the table's content
    QList<IndexPath> indexPathsForVisibleRows() const;
    void scrollToRowAtIndexPath(const IndexPath& path, bool animated);
    void selectRowAtIndexPath(const IndexPath& path); // highlight only; no signal
    IndexPath selectedIndexPath() const { return m_selected; }
    bool hasSelection() const { return m_hasSelection; }
    void deselect();
    // What a touch on the row does.
    void tapRowAtIndexPath(const IndexPath& path);

signals:
    void didSelectRowAtIndexPath(const zrp::ui::IndexPath& path);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateHighlight();
    TableViewDataSource* m_source = nullptr;
    QWidget* m_content = nullptr;
    QVBoxLayout* m_layout = nullptr;
    QList<QList<QPointer<QWidget>>> m_rows;
    IndexPath m_selected;
    bool m_hasSelection = false;
    QPointer<QWidget> m_pressed;
};

} // namespace zrp::ui

Q_DECLARE_METATYPE(zrp::ui::IndexPath)
