#include "SegmentedEpisodeSliderView.h"

#include "EpisodeThumbnailView.h"
#include "catalog/VEXOEpisode.h"
#include "catalog/VEXOProgram.h"
#include "core/NotificationCenter.h"
#include "ui/Kit.h"

#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QScroller>
#include <QScrollerProperties>
#include <QVariantMap>
#include <algorithm>

using namespace zrp::ui;

namespace {
constexpr int kPortraitWidth = 768;
constexpr int kOneRowHeight = 198;
constexpr int kEdgeFadeWidth = 24;

bool isEpisode(const QVariant& record)
{
    return record.metaType() == QMetaType::fromType<VEXOEpisode>();
}

std::optional<QString> recordTitle(const QVariant& record)
{
    if (isEpisode(record))
        return record.value<VEXOEpisode>().title();
    if (record.metaType() == QMetaType::fromType<VEXOProgram>())
        return record.value<VEXOProgram>().title();
    return std::nullopt;
}

QLabel* edgeFade(const QString& resource, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(QPixmap(resource));
    label->setScaledContents(true);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setFixedWidth(kEdgeFadeWidth);
    return label;
}
} // namespace

SegmentedEpisodeSliderView::SegmentedEpisodeSliderView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("SegmentedEpisodeSliderView"));
    setAccessibleName(QStringLiteral("Videos"));
    setFocusPolicy(Qt::StrongFocus);
    m_requests = new ImageRequestQueue(this, this);

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(false);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setStyleSheet(
        QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"));
    m_content = new QWidget;
    m_content->setObjectName(QStringLiteral("SliderContent"));
    m_scroll->setWidget(m_content);
    QScroller::grabGesture(m_scroll->viewport(), QScroller::LeftMouseButtonGesture);
    // A touch reaches the thumbnail at once; a drag that follows still scrolls.
    QScrollerProperties props = QScroller::scroller(m_scroll->viewport())->scrollerProperties();
    props.setScrollMetric(QScrollerProperties::MousePressEventDelay, 0.0);
    QScroller::scroller(m_scroll->viewport())->setScrollerProperties(props);

    auto* left = edgeFade(QStringLiteral(":/Gradient-Left.png"), this);
    left->setObjectName(QStringLiteral("SliderFadeLeft"));
    auto* right = edgeFade(QStringLiteral(":/Gradient-Right.png"), this);
    right->setObjectName(QStringLiteral("SliderFadeRight"));
}

SegmentedEpisodeSliderView::~SegmentedEpisodeSliderView()
{
    cancelRequests();
}

void SegmentedEpisodeSliderView::cancelRequests()
{
    m_requests->cancelRequests();
}

void SegmentedEpisodeSliderView::setTextLayout(int layout)
{
    m_textLayout = layout;
    m_landscapeColumnCount = layout == 2 ? 3 : 4;
    m_portraitColumnCount = 2;
}

QList<EpisodeThumbnailView*> SegmentedEpisodeSliderView::episodeThumbnailViews(const QString& segment) const
{
    QList<EpisodeThumbnailView*> out;
    for (const auto& v : m_episodeThumbnailViews.value(segment))
        out << v.data();
    return out;
}

EpisodeThumbnailView* SegmentedEpisodeSliderView::thumbnailAt(const QString& segment, int index) const
{
    const auto it = m_episodeThumbnailViews.constFind(segment);
    if (it == m_episodeThumbnailViews.cend() || index < 0 || index >= it->size())
        return nullptr;
    return it->at(index).data();
}

void SegmentedEpisodeSliderView::loadEpisodes(const Segments& videos, const QString& segment, int textLayout)
{
    // Answers still on the way belong to the records being replaced.
    cancelRequests();
    setTextLayout(textLayout);
    m_videos = videos;
    m_allVideos.clear();
    m_currentSegment = segment;
    m_currentEpisodeIndex = 0;
    deselectCurrentEpisode();
    // Segments that are not loaded again leave the screen with their thumbnails.
    for (const QString& name : m_episodeThumbnailViews.keys()) {
        if (!videos.contains(name)) {
            clearSegmentViews(name);
            m_episodeThumbnailViews.remove(name);
        }
    }
    for (auto it = videos.cbegin(); it != videos.cend(); ++it) {
        clearSegmentViews(it.key());
        if (!it.value().isEmpty())
            buildThumbnails(it.key(), it.value());
    }
    layoutThumbnails();
}

void SegmentedEpisodeSliderView::clearSegmentViews(const QString& segment)
{
    auto it = m_episodeThumbnailViews.find(segment);
    if (it == m_episodeThumbnailViews.end())
        return;
    for (const auto& v : *it)
        delete v.data();
    it->clear();
}

void SegmentedEpisodeSliderView::buildThumbnails(const QString& segment, const QVariantList& records)
{
    auto& views = m_episodeThumbnailViews[segment];
    // The first record decides how the whole list is shown.
    const bool episodes = !records.isEmpty() && isEpisode(records.first());
    for (int i = 0; i < records.size(); ++i) {
        const QVariant& r = records.at(i);
        auto* view = new EpisodeThumbnailView(m_content);
        QString thumbnail;
        if (episodes) {
            const VEXOEpisode e = r.value<VEXOEpisode>();
            thumbnail = e.thumbnailURL().value_or(QString());
            if (m_textLayout == 1) {
                view->setProgramTitle(e.title().value_or(QString()));
            } else {
                view->setProgramTitle(e.program() ? e.program()->title() : QString());
                view->setEpisodeTitle(e.title().value_or(QString()));
            }
        } else {
            const VEXOProgram p = r.value<VEXOProgram>();
            thumbnail = p.thumbnailURL();
            view->setProgramTitle(p.title());
        }
        m_allVideos.append(r);
        view->setTag(m_currentEpisodeIndex++);
        views.append(view);
        // A segment rebuilt while it holds the selection keeps showing it.
        view->setSelected(segment == m_segmentForSelectedEpisode && i == m_selectedEpisodeIndex);
        connect(view, &EpisodeThumbnailView::touched, this, &SegmentedEpisodeSliderView::thumbnailTouched);
        enqueueRequestForURLString(thumbnail, QStringLiteral("%1|%2").arg(segment).arg(i));
        view->setVisible(segment == m_currentSegment);
    }
}

void SegmentedEpisodeSliderView::changeSegment(const QString& segment)
{
    for (const auto& v : m_episodeThumbnailViews.value(m_currentSegment))
        if (v)
            v->hide();
    m_currentSegment = segment;
    clearSegmentViews(segment);
    const QVariantList records = m_videos.value(segment);
    if (!records.isEmpty())
        buildThumbnails(segment, records);
    if (m_scroll) {
        m_scroll->horizontalScrollBar()->setValue(0);
        m_scroll->verticalScrollBar()->setValue(0);
    }
    layoutThumbnails();
}

void SegmentedEpisodeSliderView::enqueueRequestForURLString(const QString& url, const QString& identifier)
{
    // The thumbnail shows its placeholder from birth; a cached image replaces it at once.
    const QImage cached = m_requests->enqueueRequestForURLString(url, identifier);
    if (cached.isNull())
        return;
    const int bar = int(identifier.lastIndexOf(QLatin1Char('|')));
    if (auto* view = thumbnailAt(identifier.left(bar), identifier.mid(bar + 1).toInt()))
        view->setEpisodeImage(cached);
}

void SegmentedEpisodeSliderView::downloadDidFinishDownloadingData(const QByteArray& data,
                                                                  const QString& identifier)
{
    const int bar = int(identifier.lastIndexOf(QLatin1Char('|')));
    if (bar < 0)
        return;
    bool ok = false;
    const int index = identifier.mid(bar + 1).toInt(&ok);
    if (!ok)
        return;
    EpisodeThumbnailView* view = thumbnailAt(identifier.left(bar), index);
    if (!view)
        return;
    const QImage image = QImage::fromData(data);
    if (!image.isNull())
        view->setEpisodeImage(image);
}

void SegmentedEpisodeSliderView::thumbnailTouched(EpisodeThumbnailView* view)
{
    if (!view)
        return;
    const int index = int(episodeThumbnailViews(m_currentSegment).indexOf(view));
    if (index < 0 || view->tag() < 0 || view->tag() >= m_allVideos.size())
        return;
    deselectCurrentEpisode();
    setSelectedIndex(index);
    QVariantMap payload;
    payload.insert(QStringLiteral("itemData"), m_allVideos.at(view->tag()));
    payload.insert(QStringLiteral("itemView"), QVariant::fromValue<QObject*>(view));
    zrp::NotificationCenter::defaultCenter().post(kItemTapNotification, payload);
}

void SegmentedEpisodeSliderView::setSelectedIndex(int index)
{
    m_selectedEpisodeIndex = index;
    m_segmentForSelectedEpisode = m_currentSegment;
    if (auto* view = thumbnailAt(m_currentSegment, index)) {
        view->setSelected(true);
        m_scroll->ensureWidgetVisible(view, 0, 0);
    }
}

void SegmentedEpisodeSliderView::selectEpisode(const VEXOEpisode& episode)
{
    deselectCurrentEpisode();
    if (!episode.title())
        return;
    const auto views = episodeThumbnailViews(m_currentSegment);
    for (int i = 0; i < views.size(); ++i) {
        const int tag = views.at(i) ? views.at(i)->tag() : -1;
        if (tag < 0 || tag >= m_allVideos.size())
            continue;
        if (recordTitle(m_allVideos.at(tag)) == episode.title()) {
            setSelectedIndex(i);
            return;
        }
    }
}

void SegmentedEpisodeSliderView::deselectCurrentEpisode()
{
    if (auto* view = thumbnailAt(m_segmentForSelectedEpisode, m_selectedEpisodeIndex))
        view->setSelected(false);
    m_selectedEpisodeIndex = -1;
}

bool SegmentedEpisodeSliderView::isGridLayout() const
{
    return width() == kPortraitWidth || m_textLayout == 2;
}

int SegmentedEpisodeSliderView::columnCount() const
{
    if (isGridLayout())
        return width() == kPortraitWidth ? m_portraitColumnCount : m_landscapeColumnCount;
    return std::max(1, width() / EpisodeThumbnailView::kCellWidth);
}

void SegmentedEpisodeSliderView::layoutThumbnails()
{
    // The band scrolls by touch and keys only; the grid shows a thin bar while it can scroll.
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(isGridLayout() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    m_scroll->setGeometry(rect());
    const auto views = episodeThumbnailViews(m_currentSegment);
    const int n = int(views.size());
    const int viewportWidth = std::max(1, m_scroll->viewport()->width());
    if (isGridLayout()) {
        const int columns = std::max(1, columnCount());
        const int cellWidth = std::max(EpisodeThumbnailView::kCellWidth, viewportWidth / columns);
        const int rows = (n + columns - 1) / columns;
        m_content->resize(cellWidth * columns, rows * EpisodeThumbnailView::kCellHeight);
        for (int i = 0; i < n; ++i)
            if (views[i])
                views[i]->move((i % columns) * cellWidth + (cellWidth - EpisodeThumbnailView::kCellWidth) / 2,
                               (i / columns) * EpisodeThumbnailView::kCellHeight);
    } else {
        const int rows = height() == kOneRowHeight ? 1 : 2;
        const int columns = (n + rows - 1) / rows;
        m_content->resize(std::max(viewportWidth, columns * EpisodeThumbnailView::kCellWidth),
                          rows * EpisodeThumbnailView::kCellHeight);
        for (int i = 0; i < n; ++i)
            if (views[i])
                views[i]->move((i / rows) * EpisodeThumbnailView::kCellWidth,
                               (i % rows) * EpisodeThumbnailView::kCellHeight);
    }
    for (const auto& v : views)
        if (v)
            v->show();
    if (auto* left = findChild<QLabel*>(QStringLiteral("SliderFadeLeft"), Qt::FindDirectChildrenOnly)) {
        left->setGeometry(0, 0, kEdgeFadeWidth, height());
        left->setVisible(!isGridLayout());
        left->raise();
    }
    if (auto* right = findChild<QLabel*>(QStringLiteral("SliderFadeRight"), Qt::FindDirectChildrenOnly)) {
        right->setGeometry(width() - kEdgeFadeWidth, 0, kEdgeFadeWidth, height());
        right->setVisible(!isGridLayout());
        right->raise();
    }
}

void SegmentedEpisodeSliderView::resizeEvent(QResizeEvent*)
{
    layoutThumbnails();
}

void SegmentedEpisodeSliderView::moveSelection(int delta)
{
    const auto views = episodeThumbnailViews(m_currentSegment);
    if (views.isEmpty())
        return;
    const int from = m_segmentForSelectedEpisode == m_currentSegment ? m_selectedEpisodeIndex : -1;
    const int to = from < 0 ? 0 : std::clamp(from + delta, 0, int(views.size()) - 1);
    if (to == from)
        return;
    deselectCurrentEpisode();
    setSelectedIndex(to);
}

void SegmentedEpisodeSliderView::keyPressEvent(QKeyEvent* e)
{
    const bool grid = isGridLayout();
    const int rows = grid ? 1 : (height() == kOneRowHeight ? 1 : 2);
    const int columns = grid ? std::max(1, columnCount()) : 1;
    switch (e->key()) {
    case Qt::Key_Left:
        moveSelection(grid ? -1 : -rows);
        break;
    case Qt::Key_Right:
        moveSelection(grid ? 1 : rows);
        break;
    case Qt::Key_Up:
        moveSelection(grid ? -columns : -1);
        break;
    case Qt::Key_Down:
        moveSelection(grid ? columns : 1);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (m_segmentForSelectedEpisode == m_currentSegment)
            thumbnailTouched(thumbnailAt(m_currentSegment, m_selectedEpisodeIndex));
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}
