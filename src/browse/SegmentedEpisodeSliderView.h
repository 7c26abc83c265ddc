#pragma once

#include "ImageRequestQueue.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>

class EpisodeThumbnailView;
class QScrollArea;
class VEXOEpisode;

// The thumbnail slider of the featured screen and the episode page: records (VEXOEpisode or
// VEXOProgram, held in QVariants) sorted into named segments, one segment on show. A band of
// 256-point cells that scrolls sideways (one row at 198 points tall, two otherwise), or a grid
// that scrolls down when 768 points wide or in text layout 2. Touching a thumbnail selects it
// and posts "SegmentedSliderItemTap" {"itemData": record, "itemView": thumbnail}.
class SegmentedEpisodeSliderView : public QWidget, public ImageRequestDelegate
{
    Q_OBJECT
public:
    static inline const QString kItemTapNotification = QStringLiteral("SegmentedSliderItemTap");
    using Segments = QMap<QString, QVariantList>;

    explicit SegmentedEpisodeSliderView(QWidget* parent = nullptr);
    ~SegmentedEpisodeSliderView() override;

    void loadEpisodes(const Segments& videos, const QString& segment, int textLayout = 0);
    void changeSegment(const QString& segment);
    // Selects the first thumbnail of the segment on show whose record has e's title.
    void selectEpisode(const VEXOEpisode& episode);
    void deselectCurrentEpisode();
    void cancelRequests();

    void setTextLayout(int layout);
    int textLayout() const { return m_textLayout; }
    int landscapeColumnCount() const { return m_landscapeColumnCount; }
    int portraitColumnCount() const { return m_portraitColumnCount; }

    const Segments& videos() const { return m_videos; }
    const QVariantList& allVideos() const { return m_allVideos; }
    int currentEpisodeIndex() const { return m_currentEpisodeIndex; }
    QString currentSegment() const { return m_currentSegment; }
    QList<EpisodeThumbnailView*> episodeThumbnailViews(const QString& segment) const;
    int selectedEpisodeIndex() const { return m_selectedEpisodeIndex; }
    QString segmentForSelectedEpisode() const { return m_segmentForSelectedEpisode; }
    ImageRequestQueue* requests() const { return m_requests; }
    QScrollArea* scrollArea() const { return m_scroll; }

    // Whether the thumbnails form the vertically scrolling grid (else the sideways band).
    bool isGridLayout() const;
    int columnCount() const; // grid columns, or band rows' cells per visible width

    // The image request pattern.
    void enqueueRequestForURLString(const QString& url, const QString& identifier);
    void downloadDidFinishDownloadingData(const QByteArray& data, const QString& identifier) override;

    // The thumbnail a touch on view means (what a finger and the Enter key both do).
    void thumbnailTouched(EpisodeThumbnailView* view);

protected:
    void resizeEvent(QResizeEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    void buildThumbnails(const QString& segment, const QVariantList& records);
    void clearSegmentViews(const QString& segment);
    void layoutThumbnails();
    void setSelectedIndex(int index);
    void moveSelection(int delta);
    EpisodeThumbnailView* thumbnailAt(const QString& segment, int index) const;

    Segments m_videos;
    QVariantList m_allVideos;
    int m_currentEpisodeIndex = 0;
    QString m_currentSegment;
    QMap<QString, QList<QPointer<EpisodeThumbnailView>>> m_episodeThumbnailViews;
    int m_selectedEpisodeIndex = -1;
    QString m_segmentForSelectedEpisode;
    int m_textLayout = 0;
    int m_landscapeColumnCount = 4;
    int m_portraitColumnCount = 3;
    ImageRequestQueue* m_requests = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_content = nullptr;
};
