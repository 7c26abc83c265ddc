#include "FeaturedViewController.h"

#include "PromoScrollView.h"
#include "SegmentedEpisodeSliderView.h"
#include "analytics/AnalyticsTracker.h"
// The hub's header keeps QPointers to these in inline accessors: they must be complete.
#include "app/ContainerViewController.h"
#include "app/TabBarViewiPad.h"
#include "core/NotificationCenter.h"
#include "net/Reachability.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"
#include "ui/LoadingOverlay.h"

#include <QEvent>
#include <QLabel>
#include <QSet>
#include <algorithm>

using namespace zrp;

namespace {
constexpr int kSliderHeight = 198; // one row of thumbnails
constexpr int kMargin = 24;
constexpr int kGap = 10;
constexpr int kTabWidth = 150;

TabBarViewiPad* makeTabBar(const QStringList& names, const QString& objectName, QWidget* parent)
{
    auto* bar = new TabBarViewiPad(parent);
    bar->setObjectName(objectName);
    bar->setAccessibleName(QStringLiteral("Video categories"));
    for (const QString& name : names)
        bar->addButtonWithTitle(name);
    bar->setSelectedItem(0);
    bar->hide(); // shown once the first group tells which of the two bars applies
    return bar;
}
} // namespace

FeaturedViewController::FeaturedViewController(QObject* parent) : SectionViewController(parent)
{
    setSectionTitle(QStringLiteral("Spotlight"));
    setTitle(QStringLiteral("Spotlight"));
}

FeaturedViewController::~FeaturedViewController()
{
    stopObservingSliderTaps();
    if (m_vexoAPI)
        m_vexoAPI->cancelRequests();
    // Take the view down while this object is still whole: its children are connected to us.
    unloadView();
}

QWidget* FeaturedViewController::loadView()
{
    auto* root = new QWidget;
    root->setObjectName(QStringLiteral("FeaturedView"));
    root->resize(preferredViewSize());
    root->installEventFilter(this);

    m_promoScrollView = new PromoScrollView(root);
    connect(m_promoScrollView, &PromoScrollView::episodeTouched, this, &FeaturedViewController::promoTouched);

    m_defaultTabBarView = makeTabBar(m_defaultButtonNames, QStringLiteral("DefaultTabBar"), root);
    m_extendedTabBarView = makeTabBar(m_extendedButtonNames, QStringLiteral("ExtendedTabBar"), root);
    connect(m_defaultTabBarView, &TabBarViewiPad::selectedItemChanged, this,
            &FeaturedViewController::selectedItemChanged);
    connect(m_extendedTabBarView, &TabBarViewiPad::selectedItemChanged, this,
            &FeaturedViewController::selectedItemChanged);

    m_sliderTopShade = new QLabel(root);
    m_sliderTopShade->setPixmap(QPixmap(QStringLiteral(":/Gradient-Top-Small.png")));
    m_sliderTopShade->setScaledContents(true);
    m_sliderTopShade->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_thumbnailSliderView = new SegmentedEpisodeSliderView(root);
    m_thumbnailSliderView->resize(root->width(), kSliderHeight);

    QWidget::setTabOrder(m_promoScrollView, m_defaultTabBarView);
    QWidget::setTabOrder(m_defaultTabBarView, m_extendedTabBarView);
    QWidget::setTabOrder(m_extendedTabBarView, m_thumbnailSliderView);
    layoutViews();
    return root;
}

void FeaturedViewController::layoutViews()
{
    QWidget* root = isViewLoaded() ? view() : nullptr;
    if (!root && m_promoScrollView)
        root = m_promoScrollView->parentWidget();
    if (!root || !m_promoScrollView || !m_thumbnailSliderView)
        return;
    const int w = root->width();
    const int h = root->height();
    const int tabHeight = ui::Theme::minimumTouchTarget;
    const int sliderY = h - kSliderHeight - kGap;
    const int tabY = sliderY - tabHeight - kGap;
    m_thumbnailSliderView->setGeometry(0, sliderY, w, kSliderHeight);
    m_sliderTopShade->setGeometry(0, sliderY - 2, w, 6);
    m_defaultTabBarView->setGeometry(kMargin, tabY, std::min(w - 2 * kMargin, 2 * kTabWidth), tabHeight);
    m_extendedTabBarView->setGeometry(kMargin, tabY, std::min(w - 2 * kMargin, 3 * kTabWidth), tabHeight);
    m_promoScrollView->setGeometry(0, kGap, w, std::max(1, tabY - 2 * kGap));
}

bool FeaturedViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && m_promoScrollView && watched == m_promoScrollView->parentWidget())
        layoutViews();
    return SectionViewController::eventFilter(watched, event);
}

void FeaturedViewController::viewDidLoad()
{
    m_vexoAPI = new VEXOClientAPI(this);
    m_vexoAPI->setDelegate(this);
    if (auto* hub = ContainerViewController::sharedInstance(); hub && hub->loadingView())
        hub->loadingView()->show(true);
    requestGroup(kPreviewsGroup);
}

void FeaturedViewController::viewDidUnload()
{
    stopObservingSliderTaps();
    // The widgets went with the view; the strip's timers stopped with it.
    m_promoScrollView = nullptr;
    m_thumbnailSliderView = nullptr;
    m_defaultTabBarView = nullptr;
    m_extendedTabBarView = nullptr;
    m_sliderTopShade = nullptr;
}

void FeaturedViewController::requestGroup(const QString& group)
{
    if (m_vexoAPI)
        m_vexoAPI->getEpisodesByGroup(group, group);
}

void FeaturedViewController::releaseClient()
{
    if (!m_vexoAPI)
        return;
    m_vexoAPI->cancelRequests();
    // We are inside its callback: let it return before it goes.
    m_vexoAPI->deleteLater();
    m_vexoAPI = nullptr;
}

void FeaturedViewController::hideLoading()
{
    if (auto* hub = ContainerViewController::sharedInstance(); hub && hub->loadingView())
        hub->loadingView()->hide(true);
}

void FeaturedViewController::didFindResults(const QString& requestId, const VEXOResults& results)
{
    if (requestId == kPreviewsGroup) {
        loadData(results.episodes, requestId);
        requestGroup(kSpotlightGroup);
    } else if (requestId == kSpotlightGroup) {
        loadData(results.episodes, requestId);
        requestGroup(kPrimetimeGroup);
    } else if (requestId == kPrimetimeGroup) {
        loadData(results.episodes, requestId);
        releaseClient();
        hideLoading();
    }
}

void FeaturedViewController::didFail(const QString& requestId, const zrp::Error& error)
{
    Q_UNUSED(requestId);
    Q_UNUSED(error);
    // The groups not asked for yet are never asked for; what arrived stays on screen.
    releaseClient();
    hideLoading();
    if (auto* hub = ContainerViewController::sharedInstance())
        hub->loadFailed(this);
}

void FeaturedViewController::loadData(const QList<VEXOEpisode>& records, const QString& group)
{
    if (group == kSpotlightGroup) {
        m_zrpPicksEpisodes = records;
        if (m_promoScrollView)
            m_promoScrollView->loadEpisodes(records);
    } else if (group == kPrimetimeGroup) {
        QList<VEXOEpisode> sorted = records;
        std::stable_sort(sorted.begin(), sorted.end(), [](const VEXOEpisode& a, const VEXOEpisode& b) {
            return a.compareProgramTitle(b) < 0;
        });
        QList<VEXOProgram> programs;
        QSet<QString> seen;
        for (const VEXOEpisode& e : sorted) {
            if (!e.program())
                continue;
            const QString title = e.program()->title();
            if (seen.contains(title))
                continue;
            seen.insert(title);
            programs << *e.program();
        }
        m_primeTimePrograms = programs;
    } else if (group == kPreviewsGroup) {
        m_previewEpisodes = records;
    }

    for (const VEXOEpisode& e : records) {
        if (!e.expiresInNumberOfDays(kExpiringWithinDays))
            continue;
        if (!m_expiringSoonPrograms)
            m_expiringSoonPrograms.emplace();
        m_expiringSoonPrograms->append(e);
    }
    const bool expiring = !expiringSoonPrograms().isEmpty();

    if (m_primeTimePrograms && m_previewEpisodes && m_thumbnailSliderView) {
        SegmentedEpisodeSliderView::Segments segments;
        QVariantList primetime, previews, soon;
        for (const VEXOProgram& p : *m_primeTimePrograms)
            primetime << QVariant::fromValue(p);
        for (const VEXOEpisode& e : *m_previewEpisodes)
            previews << QVariant::fromValue(e);
        segments.insert(kPrimetime, primetime);
        segments.insert(kPreviews, previews);
        if (expiring) {
            for (const VEXOEpisode& e : expiringSoonPrograms())
                soon << QVariant::fromValue(e);
            segments.insert(kExpiringSoon, soon);
        }
        const int selected = m_defaultTabBarView ? m_defaultTabBarView->selectedItem() : 0;
        m_thumbnailSliderView->loadEpisodes(segments, m_defaultButtonNames.value(selected, kPreviews));
    }

    if (m_defaultTabBarView && m_extendedTabBarView) {
        m_extendedTabBarView->setVisible(expiring);
        m_defaultTabBarView->setVisible(!expiring);
    }
}

void FeaturedViewController::selectedItemChanged(int index)
{
    const bool extendedShown = m_extendedTabBarView && !m_extendedTabBarView->isHidden();
    const QStringList& names = extendedShown ? m_extendedButtonNames : m_defaultButtonNames;
    const QString name = names.value(index);
    if (name.isEmpty())
        return;
    if (m_thumbnailSliderView)
        m_thumbnailSliderView->changeSegment(name);
    QString path = QStringLiteral("/spotlight/previews");
    if (name == kExpiringSoon)
        path = QStringLiteral("/spotlight/expiringSoon");
    else if (name == kPrimetime)
        path = QStringLiteral("/previews/primetime");
    AnalyticsTracker::sharedInstance()->trackPageview(path);
}

void FeaturedViewController::viewDidAppear(bool)
{
    observeSliderTaps();
}

void FeaturedViewController::viewWillDisappear(bool)
{
    stopObservingSliderTaps();
}

void FeaturedViewController::observeSliderTaps()
{
    auto& center = NotificationCenter::defaultCenter();
    center.removeObserver(this, SegmentedEpisodeSliderView::kItemTapNotification);
    QPointer<FeaturedViewController> self(this);
    center.addObserver(this, SegmentedEpisodeSliderView::kItemTapNotification, [self](const Notification& n) {
        if (!self)
            return;
        const QVariant item = n.object.toMap().value(QStringLiteral("itemData"));
        auto* hub = ContainerViewController::sharedInstance();
        if (!hub)
            return;
        if (item.metaType() == QMetaType::fromType<VEXOEpisode>())
            hub->loadEpisode(item.value<VEXOEpisode>());
        else if (item.metaType() == QMetaType::fromType<VEXOProgram>())
            hub->loadProgram(item.value<VEXOProgram>());
    });
    m_observing = true;
}

void FeaturedViewController::stopObservingSliderTaps()
{
    NotificationCenter::defaultCenter().removeObserver(this,
                                                       SegmentedEpisodeSliderView::kItemTapNotification);
    m_observing = false;
}

void FeaturedViewController::promoTouched(int index)
{
    if (!m_promoScrollView)
        return;
    const auto& episodes = m_promoScrollView->episodes();
    if (index < 0 || index >= episodes.size())
        return;
    if (auto* hub = ContainerViewController::sharedInstance())
        hub->loadEpisode(episodes.at(index));
}
