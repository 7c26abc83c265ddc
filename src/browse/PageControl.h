#pragma once

#include <QWidget>

// A row of dots, one per page, the current one lit. Touching it left or right of the current dot
// moves one page that way; arrow keys do the same.
class PageControl : public QWidget
{
    Q_OBJECT
public:
    explicit PageControl(QWidget* parent = nullptr);

    int numberOfPages() const { return m_pages; }
    void setNumberOfPages(int pages);
    int currentPage() const { return m_current; }
    void setCurrentPage(int page); // clamped; tells no one

    QSize sizeHint() const override;

signals:
    // The user moved the page (touch or key); currentPage() already holds the new value.
    void valueChanged(int page);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    void step(int delta);
    QRect dotsRect() const;
    int m_pages = 0;
    int m_current = 0;
};
