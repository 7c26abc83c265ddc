#include "PromoScrollView.h"

#include "PageControl.h"
#include "PromoView.h"
#include "core/Clock.h"
#include "ui/Kit.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QScroller>
#include <algorithm>
#include <cmath>

using namespace zrp;

namespace {
constexpr int kAnimationTickMs = 16;
constexpr int kSidePeek = 72; // how much of each neighbour page shows at the sides
} // namespace

// ---------------------------------------------------------------- PromoPagedScrollView

PromoPagedScrollView::PromoPagedScrollView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setObjectName(QStringLiteral("PromoPagedScrollView"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("PromoPagedScrollView { background: transparent; }"));
    horizontalScrollBar()->setRange(0, 0);
}

void PromoPagedScrollView::setPageWidth(int w)
{
    m_pageWidth = std::max(1, w);
    horizontalScrollBar()->setPageStep(m_pageWidth);
    horizontalScrollBar()->setSingleStep(m_pageWidth);
    QScroller::scroller(viewport())->setSnapPositionsX(0, m_pageWidth);
    setPages(m_pages, m_firstOffsetPage);
}

void PromoPagedScrollView::setPages(const QList<PromoView*>& pages, int firstOffsetPage)
{
    m_pages = pages;
    m_firstOffsetPage = firstOffsetPage;
    for (PromoView* p : m_pages) {
        if (p->parentWidget() != viewport())
            p->setParent(viewport());
        p->show();
    }
    horizontalScrollBar()->setRange(0, maximumOffset());
    layoutPages();
}

int PromoPagedScrollView::maximumOffset() const
{
    // With copies on both sides only the first copy behind the last video can be scrolled to;
    // the outer copies only show at the edges.
    const int reachable = int(m_pages.size()) - 1 - 2 * m_firstOffsetPage;
    return std::max(0, reachable) * m_pageWidth;
}

int PromoPagedScrollView::contentOffset() const
{
    return horizontalScrollBar()->value();
}

void PromoPagedScrollView::setContentOffset(int x)
{
    horizontalScrollBar()->setValue(std::clamp(x, 0, maximumOffset()));
}

int PromoPagedScrollView::distanceToPage(int j) const
{
    return contentOffset() - (j - m_firstOffsetPage) * m_pageWidth;
}

void PromoPagedScrollView::layoutPages()
{
    const int margin = (viewport()->width() - m_pageWidth) / 2;
    const int pageW = std::max(1, m_pageWidth - 2 * PromoScrollView::kPageInset);
    for (int j = 0; j < m_pages.size(); ++j)
        m_pages[j]->setGeometry(margin + (j - m_firstOffsetPage) * m_pageWidth - contentOffset() +
                                    PromoScrollView::kPageInset,
                                0, pageW, viewport()->height());
}

void PromoPagedScrollView::scrollContentsBy(int, int)
{
    layoutPages();
    emit didScroll();
}

void PromoPagedScrollView::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    layoutPages();
}

// ---------------------------------------------------------------- PromoScrollView

PromoScrollView::PromoScrollView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PromoScrollView"));
    setAccessibleName(QStringLiteral("Featured videos"));
    setFocusPolicy(Qt::StrongFocus);
    m_requests = new ImageRequestQueue(this, this);
    m_scrollView = new PromoPagedScrollView(this);
    m_pageControl = new PageControl(this);
    m_pageControl->hide();
    connect(m_pageControl, &PageControl::valueChanged, this, &PromoScrollView::pageControlChanged);
    connect(m_scrollView, &PromoPagedScrollView::didScroll, this, &PromoScrollView::scrollViewDidScroll);

    QScroller* scroller = QScroller::scroller(m_scrollView->viewport());
    QScroller::grabGesture(m_scrollView->viewport(), QScroller::LeftMouseButtonGesture);
    QScrollerProperties props = scroller->scrollerProperties();
    props.setScrollMetric(QScrollerProperties::VerticalOvershootPolicy,
                          QVariant::fromValue(QScrollerProperties::OvershootAlwaysOff));
    // A touch reaches the page at once; a drag that follows still scrolls.
    props.setScrollMetric(QScrollerProperties::MousePressEventDelay, 0.0);
    scroller->setScrollerProperties(props);
    connect(scroller, &QScroller::stateChanged, this, [this](QScroller::State state) {
        if (state == QScroller::Dragging)
            scrollViewWillBeginDragging();
        else if (state == QScroller::Inactive && m_userScrolling)
            scrollViewDidEndDecelerating();
    });
    layoutStrip();
}

PromoScrollView::~PromoScrollView()
{
    cancelRequests();
    // The scroll view goes with us; its signals must not reach a half-destroyed strip.
    disconnect(m_scrollView, nullptr, this, nullptr);
    if (auto* scroller = QScroller::scroller(m_scrollView->viewport()))
        disconnect(scroller, nullptr, this, nullptr);
    invalidateTimers();
}

void PromoScrollView::cancelRequests()
{
    m_requests->cancelRequests();
}

void PromoScrollView::invalidateTimers()
{
    for (auto* t : {&m_scrollTimer, &m_restartTimer, &m_scrollAnimation, &m_fadeAnimation}) {
        if (*t)
            (*t)->invalidate();
        t->reset();
    }
}

bool PromoScrollView::isAutoAdvancing() const
{
    return m_scrollTimer && m_scrollTimer->isValid();
}

int PromoScrollView::pageWidth() const
{
    return m_scrollView->pageWidth();
}

int PromoScrollView::contentOffset() const
{
    return m_scrollView->contentOffset();
}

void PromoScrollView::clearPages()
{
    stopScrollAnimation();
    m_scrollView->setPages({}, 0);
    qDeleteAll(m_episodePromoViews);
    m_episodePromoViews.clear();
}

void PromoScrollView::loadEpisodes(const QList<VEXOEpisode>& episodes)
{
    cancelRequests();
    clearPages();
    m_episodes = episodes;
    const int n = int(episodes.size());
    m_pageControl->setNumberOfPages(n);
    m_pageControl->setCurrentPage(0);
    m_pageControl->setVisible(n > 0);
    m_infiniteScrollingAvailable = n >= kMinimumVideosForWrapAround;

    QList<int> order;
    if (m_infiniteScrollingAvailable)
        order << n - 2 << n - 1;
    for (int i = 0; i < n; ++i)
        order << i;
    if (m_infiniteScrollingAvailable)
        order << 0 << 1;

    for (int index : order) {
        const VEXOEpisode& e = m_episodes.at(index);
        auto* view = new PromoView(m_scrollView->viewport());
        view->setTag(index);
        view->setTexts(e.program() ? e.program()->title() : QString(), e.title().value_or(QString()),
                       e.shortDescription());
        connect(view, &PromoView::touched, this, [this](PromoView* v) { emit episodeTouched(v->tag()); });
        m_episodePromoViews.append(view);
        enqueueRequestForURLString(e.imageURL().value_or(QString()),
                                   QString::number(m_episodePromoViews.size() - 1));
    }
    m_scrollView->setPages(m_episodePromoViews, m_infiniteScrollingAvailable ? 1 : 0);
    m_pageControlUsed = false;
    m_scrollView->setContentOffset(m_infiniteScrollingAvailable ? pageWidth() : 0);
    if (n > 0)
        startAutoAdvance();
    fadePromoViews(false);
}

void PromoScrollView::startAutoAdvance()
{
    if (m_scrollTimer)
        m_scrollTimer->invalidate();
    QPointer<PromoScrollView> self(this);
    m_scrollTimer = Timer::scheduled(
        kAutoAdvanceMs, true,
        [self] {
            if (self)
                self->scrollTimerFired();
        },
        this);
}

void PromoScrollView::scrollTimerFired()
{
    const int n = int(m_episodes.size());
    if (n == 0)
        return;
    int next = m_pageControl->currentPage() + 1;
    if (next >= n)
        next = 0;
    m_pageControl->setCurrentPage(next);
    changePage(next);
}

void PromoScrollView::pageControlChanged(int page)
{
    changePage(page);
}

void PromoScrollView::changePage(int page)
{
    const int n = int(m_episodes.size());
    if (n == 0)
        return;
    const int w = pageWidth();
    int target = w * page;
    if (m_infiniteScrollingAvailable) {
        target = w * (page + 1);
        // Back to the first video from far along: go on to its copy behind the last page, so
        // the strip keeps moving forward.
        if (page == 0 && contentOffset() > 3 * w)
            target = w * (n + 1);
    }
    m_pageControlUsed = true;
    scrollToOffset(target, true);
}

void PromoScrollView::stopScrollAnimation()
{
    if (m_scrollAnimation)
        m_scrollAnimation->invalidate();
    m_scrollAnimation.reset();
}

void PromoScrollView::scrollToOffset(int x, bool animated)
{
    stopScrollAnimation();
    const int from = contentOffset();
    if (!animated || x == from) {
        m_scrollView->setContentOffset(x);
        if (animated)
            scrollAnimationEnded();
        return;
    }
    const qint64 start = Clock::shared()->monotonicMs();
    QPointer<PromoScrollView> self(this);
    m_scrollAnimation = Timer::scheduled(
        kAnimationTickMs, true,
        [self, from, x, start] {
            if (!self)
                return;
            const qreal t = std::clamp(
                qreal(Clock::shared()->monotonicMs() - start) / qreal(kScrollAnimationMs), 0.0, 1.0);
            const qreal eased = 1.0 - std::pow(1.0 - t, 3.0);
            self->m_scrollView->setContentOffset(from + int(std::lround((x - from) * eased)));
            if (t >= 1.0) {
                self->stopScrollAnimation();
                self->scrollAnimationEnded();
            }
        },
        this);
}

void PromoScrollView::scrollAnimationEnded()
{
    fadePromoViews(true);
    updateFocusRing();
}

void PromoScrollView::updateFocusRing()
{
    const int w = pageWidth();
    const int shown =
        (w > 0 ? int(std::lround(double(contentOffset()) / w)) : 0) + (m_infiniteScrollingAvailable ? 1 : 0);
    for (int j = 0; j < m_episodePromoViews.size(); ++j)
        m_episodePromoViews[j]->setFocusRing(hasFocus() && j == shown);
}

void PromoScrollView::focusInEvent(QFocusEvent* e)
{
    QWidget::focusInEvent(e);
    updateFocusRing();
}

void PromoScrollView::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    updateFocusRing();
}

void PromoScrollView::scrollViewDidScroll()
{
    const int n = int(m_episodes.size());
    const int w = pageWidth();
    if (n == 0 || w <= 0)
        return;
    const int offset = contentOffset();
    if (m_pageControlUsed) {
        // Arrived at the copy of the first video: the real one looks the same, so jump there.
        if (m_infiniteScrollingAvailable && m_pageControl->currentPage() == 0 && offset >= w * (n + 1))
            m_scrollView->setContentOffset(w);
        return;
    }
    int dot;
    if (m_infiniteScrollingAvailable) {
        const int p = int(std::ceil((offset - w / 2.0) / w));
        // A copy under the centre lights the dot of the video it copies.
        dot = ((p - 1) % n + n) % n;
    } else {
        dot = int(std::floor((offset - w / 2.0) / w)) + 1;
    }
    m_pageControl->setCurrentPage(dot);
    fadePromoViews(false);
}

void PromoScrollView::scrollViewWillBeginDragging()
{
    m_userScrolling = true;
    stopScrollAnimation();
    if (m_scrollTimer)
        m_scrollTimer->invalidate();
    m_scrollTimer.reset();
    if (m_restartTimer)
        m_restartTimer->invalidate();
    QPointer<PromoScrollView> self(this);
    m_restartTimer = Timer::scheduled(
        kDragPauseMs, false,
        [self] {
            if (!self)
                return;
            self->m_restartTimer.reset();
            self->startAutoAdvance();
        },
        this);
    m_pageControlUsed = false;
}

void PromoScrollView::scrollViewDidEndDecelerating()
{
    m_userScrolling = false;
    const int n = int(m_episodes.size());
    const int w = pageWidth();
    if (n > 0 && m_infiniteScrollingAvailable) {
        const int page = int(std::lround(double(contentOffset()) / w));
        if (page == 0)
            m_scrollView->setContentOffset(w * n); // the copy of the last video
        else if (page == n + 1)
            m_scrollView->setContentOffset(w); // the copy of the first video
    }
    fadePromoViews(false);
    updateFocusRing();
}

qreal PromoScrollView::fadeFor(int pageIndex) const
{
    const qreal span = 1.5 * pageWidth();
    const int d = std::abs(m_scrollView->distanceToPage(pageIndex));
    return std::max<qreal>(0.0, (span - d) / span);
}

void PromoScrollView::fadePromoViews(bool animated)
{
    if (m_fadeAnimation)
        m_fadeAnimation->invalidate();
    m_fadeAnimation.reset();
    QList<qreal> from, to;
    for (int j = 0; j < m_episodePromoViews.size(); ++j) {
        from << m_episodePromoViews[j]->fadeOpacity();
        to << fadeFor(j);
    }
    if (!animated) {
        for (int j = 0; j < m_episodePromoViews.size(); ++j)
            m_episodePromoViews[j]->setFadeOpacity(to[j]);
        return;
    }
    const qint64 start = Clock::shared()->monotonicMs();
    QPointer<PromoScrollView> self(this);
    m_fadeAnimation = Timer::scheduled(
        kAnimationTickMs, true,
        [self, from, to, start] {
            if (!self)
                return;
            const qreal t =
                std::clamp(qreal(Clock::shared()->monotonicMs() - start) / qreal(kFadeAnimationMs), 0.0, 1.0);
            const auto& views = self->m_episodePromoViews;
            for (int j = 0; j < views.size() && j < to.size(); ++j)
                views[j]->setFadeOpacity(from[j] + (to[j] - from[j]) * t);
            if (t >= 1.0) {
                self->m_fadeAnimation->invalidate();
                self->m_fadeAnimation.reset();
            }
        },
        this);
}

void PromoScrollView::enqueueRequestForURLString(const QString& url, const QString& identifier)
{
    // The page shows its placeholder from birth; a cached image replaces it at once.
    const QImage cached = m_requests->enqueueRequestForURLString(url, identifier);
    bool ok = false;
    const int index = identifier.toInt(&ok);
    if (!cached.isNull() && ok && index >= 0 && index < m_episodePromoViews.size())
        m_episodePromoViews[index]->setEpisodeImage(cached);
}

void PromoScrollView::downloadDidFinishDownloadingData(const QByteArray& data, const QString& identifier)
{
    bool ok = false;
    const int index = identifier.toInt(&ok);
    if (!ok || index < 0 || index >= m_episodePromoViews.size())
        return;
    const QImage image = QImage::fromData(data);
    if (!image.isNull())
        m_episodePromoViews[index]->setEpisodeImage(image);
}

void PromoScrollView::layoutStrip()
{
    const int controlHeight = zrp::ui::Theme::minimumTouchTarget;
    const int pagesHeight = std::max(1, height() - controlHeight);
    m_scrollView->setGeometry(0, 0, width(), pagesHeight);
    m_pageControl->setGeometry(0, pagesHeight, width(), controlHeight);

    const int maxPage = std::max(1, width() - 2 * kSidePeek);
    const int pageForHeight = pagesHeight * 16 / 9;
    const int w = std::min(width(), std::min(maxPage, pageForHeight) + 2 * kPageInset);
    const int oldW = pageWidth();
    const int page = oldW > 0 ? int(std::lround(double(contentOffset()) / oldW)) : 0;
    stopScrollAnimation();
    m_scrollView->setPageWidth(w);
    m_scrollView->setContentOffset(page * w);
    fadePromoViews(false);
}

void PromoScrollView::resizeEvent(QResizeEvent*)
{
    layoutStrip();
}

void PromoScrollView::keyPressEvent(QKeyEvent* e)
{
    const int n = int(m_episodes.size());
    if (n == 0) {
        QWidget::keyPressEvent(e);
        return;
    }
    switch (e->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const int step = e->key() == Qt::Key_Left ? -1 : 1;
        const int page = ((m_pageControl->currentPage() + step) % n + n) % n;
        m_pageControl->setCurrentPage(page);
        changePage(page);
        break;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        emit episodeTouched(m_pageControl->currentPage());
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}
