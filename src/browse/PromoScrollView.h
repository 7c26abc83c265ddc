#pragma once

#include "ImageRequestQueue.h"
#include "catalog/VEXOEpisode.h"

#include <QAbstractScrollArea>
#include <QList>
#include <QWidget>
#include <memory>

class PageControl;
class PromoView;

namespace zrp {
class Timer;
}

// The paged scroll view inside the promo strip. Offsets are in whole pages of pageWidth(); the
// view is wider than a page, so the neighbours of the centred page show at its sides.
class PromoPagedScrollView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit PromoPagedScrollView(QWidget* parent = nullptr);

    int pageWidth() const { return m_pageWidth; }
    void setPageWidth(int w);
    // firstOffsetPage: the page index shown at offset 0 (1 with wrap-around copies in front).
    void setPages(const QList<PromoView*>& pages, int firstOffsetPage);
    int contentOffset() const;
    void setContentOffset(int x); // clamped to the range
    int maximumOffset() const;
    // The distance between the centre of the visible page area and page j's centre.
    int distanceToPage(int j) const;

signals:
    void didScroll();

protected:
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void layoutPages();
    QList<PromoView*> m_pages;
    int m_pageWidth = 1;
    int m_firstOffsetPage = 0;
};

// The promo strip of the featured screen: one large page per video, advancing by itself every
// 7.5 s. From five videos on it wraps around (a copy of the last two videos in front, of the
// first two behind), so that advancing from the last video keeps moving forward. A drag pauses
// the advance for 10 s.
class PromoScrollView : public QWidget, public ImageRequestDelegate
{
    Q_OBJECT
public:
    static constexpr qint64 kAutoAdvanceMs = 7500;
    static constexpr qint64 kDragPauseMs = 10000;
    static constexpr qint64 kScrollAnimationMs = 300;
    static constexpr qint64 kFadeAnimationMs = 150;
    static constexpr int kMinimumVideosForWrapAround = 5;
    static constexpr int kPageInset = 15;

    explicit PromoScrollView(QWidget* parent = nullptr);
    ~PromoScrollView() override;

    void loadEpisodes(const QList<VEXOEpisode>& episodes);
    void cancelRequests();
    // Stops the auto-advance and its restart (the screen's view is going away).
    void invalidateTimers();

    const QList<VEXOEpisode>& episodes() const { return m_episodes; }
    const QList<PromoView*>& episodePromoViews() const { return m_episodePromoViews; }
    PromoPagedScrollView* scrollView() const { return m_scrollView; }
    PageControl* pageControl() const { return m_pageControl; }
    std::shared_ptr<zrp::Timer> scrollTimer() const { return m_scrollTimer; }
    bool isAutoAdvancing() const;
    bool pageControlUsed() const { return m_pageControlUsed; }
    bool infiniteScrollingAvailable() const { return m_infiniteScrollingAvailable; }
    ImageRequestQueue* requests() const { return m_requests; }
    bool isAnimatingScroll() const { return bool(m_scrollAnimation); }

    int pageWidth() const;
    int contentOffset() const;

    // Scrolls to dot k (the timer and the page control do this).
    void changePage(int page);

    // The scroll view's delegate side: a user's drag begins, any scroll moves, a user's scroll
    // comes to rest. Kinetic scrolling calls them; so may anything that drives the strip.
    void scrollViewWillBeginDragging();
    void scrollViewDidScroll();
    void scrollViewDidEndDecelerating();

    // The image request pattern.
    void enqueueRequestForURLString(const QString& url, const QString& identifier);
    void downloadDidFinishDownloadingData(const QByteArray& data, const QString& identifier) override;

signals:
    // A page was touched; index is the page's tag, the video's index in episodes().
    void episodeTouched(int index);

protected:
    void resizeEvent(QResizeEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void focusInEvent(QFocusEvent*) override;
    void focusOutEvent(QFocusEvent*) override;

private:
    void updateFocusRing();
    void startAutoAdvance();
    void scrollTimerFired();
    void pageControlChanged(int page);
    void scrollToOffset(int x, bool animated);
    void stopScrollAnimation();
    void scrollAnimationEnded();
    void fadePromoViews(bool animated);
    qreal fadeFor(int pageIndex) const;
    void clearPages();
    void layoutStrip();

    QList<VEXOEpisode> m_episodes;
    QList<PromoView*> m_episodePromoViews;
    PromoPagedScrollView* m_scrollView = nullptr;
    PageControl* m_pageControl = nullptr;
    std::shared_ptr<zrp::Timer> m_scrollTimer;
    std::shared_ptr<zrp::Timer> m_restartTimer;
    std::shared_ptr<zrp::Timer> m_scrollAnimation;
    std::shared_ptr<zrp::Timer> m_fadeAnimation;
    bool m_pageControlUsed = false;
    bool m_infiniteScrollingAvailable = false;
    bool m_userScrolling = false;
    ImageRequestQueue* m_requests = nullptr;
};
