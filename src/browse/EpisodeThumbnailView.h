#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

// One thumbnail of a slider or a list: a 240 x 135 image with a soft shadow (a larger teal one
// when selected) and up to two lines of text under it. Touching it dims the image while the
// finger is down and emits touched() when the finger is lifted over it.
class EpisodeThumbnailView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kImageWidth = 240;
    static constexpr int kImageHeight = 135;
    static constexpr int kCellWidth = 256;  // band cell: the image and its margins
    static constexpr int kCellHeight = 198; // one row of the band

    explicit EpisodeThumbnailView(QWidget* parent = nullptr);

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    // episodeImage: the picture on show (the placeholder until an image arrives).
    QImage episodeImage() const { return m_image; }
    void setEpisodeImage(const QImage& image);
    bool hasLoadedImage() const { return m_loaded; }
    void setPlaceholderImage(const QImage& image);

    QString programTitle() const { return m_programTitle; }
    void setProgramTitle(const QString& text);
    QString episodeTitle() const { return m_episodeTitle; }
    void setEpisodeTitle(const QString& text);

    bool selected() const { return m_selected; }
    void setSelected(bool selected);
    bool isPressed() const { return m_pressed; }

    // The image's rectangle inside the view.
    QRect imageRect() const;
    // The texts as drawn (elided to the image's width).
    QString displayedProgramTitle() const;
    QString displayedEpisodeTitle() const;

    QSize sizeHint() const override { return QSize(kCellWidth, kCellHeight); }

    static QImage defaultPlaceholder(); // "ZRP240x135.png"

signals:
    void touched(EpisodeThumbnailView* view);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;

private:
    void updateAccessibleName();
    int m_tag = 0;
    QImage m_image;
    QImage m_placeholder;
    bool m_loaded = false;
    QString m_programTitle;
    QString m_episodeTitle;
    bool m_selected = false;
    bool m_pressed = false;
};
