#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

// One page of the promo strip: a large picture with the program title, the video's title and
// one line of its description over a dark gradient at the bottom. It dims while touched.
class PromoView : public QWidget
{
    Q_OBJECT
public:
    explicit PromoView(QWidget* parent = nullptr);

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    QImage episodeImage() const { return m_image; }
    void setEpisodeImage(const QImage& image);
    bool hasLoadedImage() const { return m_loaded; }

    QString programTitle() const { return m_programTitle; }
    QString episodeTitle() const { return m_episodeTitle; }
    QString episodeDescription() const { return m_episodeDescription; }
    void setTexts(const QString& programTitle, const QString& episodeTitle, const QString& description);

    // The opacity the strip gives the page by its distance from the centre.
    qreal fadeOpacity() const { return m_fade; }
    void setFadeOpacity(qreal opacity);
    // What is painted: the fade, dimmed to 0.8 while touched.
    qreal effectiveOpacity() const { return m_fade * (m_pressed ? 0.8 : 1.0); }
    bool isPressed() const { return m_pressed; }
    // The keyboard's place in the strip: drawn as a teal ring.
    bool hasFocusRing() const { return m_focusRing; }
    void setFocusRing(bool on);

    static QImage defaultPlaceholder(); // "ZRP768x432.png"

signals:
    void touched(PromoView* view);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    int m_tag = 0;
    QImage m_image;
    bool m_loaded = false;
    QString m_programTitle;
    QString m_episodeTitle;
    QString m_episodeDescription;
    qreal m_fade = 1.0;
    bool m_pressed = false;
    bool m_focusRing = false;
};
