#include "ContainerViewController.h"

#include "UnavailableViewController.h"
#include "analytics/AnalyticsTracker.h"
#include "browse/BuyActionSheet.h"
#include "browse/FeaturedViewController.h"
#include "catalog/VEXOEpisode.h"
#include "catalog/VEXOProgram.h"
#include "core/Config.h"
#include "core/NotificationCenter.h"
#include "core/RunLoop.h"
#include "net/Reachability.h"
#include "push/PushRegistrar.h"
#include "social/ShareKit.h"
#include "ui/ActionSheet.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"
#include "ui/LoadingOverlay.h"
#include "ui/PopoverController.h"
#include "ui/RemoteImageView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

using namespace zrp;
using namespace zrp::ui;

namespace {

ContainerViewController*& instanceRef()
{
    static ContainerViewController* instance = nullptr;
    return instance;
}

const QString kConnectionTitle = QStringLiteral("Connection Issue");
const QString kConnectionMessage =
    QStringLiteral("Couldn't connect to the Internet, please check your connection and retry.");
const QString kLoadFailedTitle =
    QStringLiteral("There is a problem connecting to ZRP. \nPlease try again after a bit.");

void pageView(const QString& path)
{
    AnalyticsTracker::sharedInstance()->trackPageview(path);
}

QPushButton* barButton(const QString& text, const QString& name, QWidget* parent, bool checkable = false)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAccessibleName(text);
    b->setCheckable(checkable);
    b->setMinimumSize(Theme::minimumTouchTarget, Theme::minimumTouchTarget);
    b->setFont(Theme::font(15, checkable));
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

} // namespace

ContainerViewController* ContainerViewController::sharedInstance()
{
    if (!instanceRef())
        instanceRef() = new ContainerViewController();
    return instanceRef();
}

void ContainerViewController::resetSharedInstance()
{
    delete instanceRef();
    instanceRef() = nullptr;
}

ContainerViewController::ContainerViewController()
{
    setObjectName(QStringLiteral("ContainerViewController"));
    // Every share made through the hub's sheet is recorded once the service has the item.
    connect(ShareKit::sharedInstance(), &ShareKit::didShare, this,
            [](const ShareItem& item, const QString& service) {
                AnalyticsTracker::sharedInstance()->trackEvent(
                    QStringLiteral("share"),
                    shareEventAction(item.customValue(QStringLiteral("shareTypeEvent")), service),
                    item.customValue(QStringLiteral("shareDetailEvent")), -1);
            });
}

ContainerViewController::~ContainerViewController()
{
    cleanupViews();
    if (instanceRef() == this)
        instanceRef() = nullptr;
}

Reachability* ContainerViewController::reachability() const
{
    return m_reachabilityOverride ? m_reachabilityOverride.data() : Reachability::shared();
}

bool ContainerViewController::isConnectedToInternet() const
{
    return reachability()->isReachable();
}

// ---- the view --------------------------------------------------------------------------------

QWidget* ContainerViewController::loadView()
{
    auto* root = new QWidget();
    root->setObjectName(QStringLiteral("ContainerView"));
    root->resize(1024, 768);
    root->setAutoFillBackground(true);
    QPalette pal = root->palette();
    pal.setColor(QPalette::Window, Theme::background);
    pal.setColor(QPalette::WindowText, Theme::text);
    root->setPalette(pal);
    root->setStyleSheet(Theme::styleSheet());

    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Top bar: station logo, wordmark; support, info and settings at the right.
    m_topView = new QWidget(root);
    m_topView->setObjectName(QStringLiteral("TopView"));
    m_topView->setFixedHeight(56);
    m_topView->setAttribute(Qt::WA_StyledBackground, true);
    m_topView->setStyleSheet(
        QStringLiteral("#TopView { background-color: #0b0c0e; border-bottom: 1px solid %1; }")
            .arg(Theme::separator.name()));
    auto* top = new QHBoxLayout(m_topView);
    top->setContentsMargins(12, 6, 12, 6);
    m_stationButton = new QPushButton(m_topView);
    m_stationButton->setObjectName(QStringLiteral("StationButton"));
    m_stationButton->setAccessibleName(tr("Local station"));
    m_stationButton->setFixedSize(76, Theme::minimumTouchTarget);
    m_stationButton->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: none; }"));
    m_stationImage = new RemoteImageView(m_stationButton);
    m_stationImage->setGeometry(4, 4, 68, 35);
    m_stationImage->setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(m_stationButton, &QPushButton::clicked, this, [this] { popupSettings(m_settingsButton); });
    top->addWidget(m_stationButton);
    auto* wordmark = new QLabel(QStringLiteral("ZRP"), m_topView);
    wordmark->setObjectName(QStringLiteral("Wordmark"));
    wordmark->setFont(Theme::font(26, true));
    wordmark->setStyleSheet(QStringLiteral("color: %1; letter-spacing: 3px;").arg(Theme::text.name()));
    top->addSpacing(12);
    top->addWidget(wordmark);
    top->addStretch(1);
    m_supportButton = barButton(tr("Support ZRP"), QStringLiteral("SupportButton"), m_topView);
    m_infoButton = barButton(tr("Info"), QStringLiteral("InfoButton"), m_topView);
    m_settingsButton = barButton(tr("Settings"), QStringLiteral("SettingsButton"), m_topView);
    connect(m_supportButton, &QPushButton::clicked, this, [this] { supportZRP(); });
    connect(m_infoButton, &QPushButton::clicked, this, [this] { popupInfo(m_infoButton); });
    connect(m_settingsButton, &QPushButton::clicked, this, [this] { popupSettings(m_settingsButton); });
    top->addWidget(m_supportButton);
    top->addWidget(m_infoButton);
    top->addWidget(m_settingsButton);
    column->addWidget(m_topView);

    // Navigation bar: the three sections, the section title, favorites and profile.
    m_navigationView = new QWidget(root);
    m_navigationView->setObjectName(QStringLiteral("NavigationView"));
    m_navigationView->setFixedHeight(56);
    m_navigationView->setAttribute(Qt::WA_StyledBackground, true);
    m_navigationView->setStyleSheet(
        QStringLiteral("#NavigationView { background-color: %1; border-bottom: 1px solid %2; }")
            .arg(Theme::surface.name(), Theme::separator.name()));
    auto* nav = new QHBoxLayout(m_navigationView);
    nav->setContentsMargins(12, 6, 12, 6);
    nav->setSpacing(6);
    m_featuredButton = barButton(tr("Spotlight"), QStringLiteral("FeaturedButton"), m_navigationView, true);
    m_programsButton = barButton(tr("Programs"), QStringLiteral("ProgramsButton"), m_navigationView, true);
    m_searchButton = barButton(tr("Search"), QStringLiteral("SearchButton"), m_navigationView);
    m_scheduleButton = barButton(tr("TV Schedule"), QStringLiteral("ScheduleButton"), m_navigationView, true);
    connect(m_featuredButton, &QPushButton::clicked, this, [this] { loadFeatured(); });
    connect(m_programsButton, &QPushButton::clicked, this, [this] { popupPrograms(); });
    connect(m_searchButton, &QPushButton::clicked, this, [this] { searchProgramsAction(); });
    connect(m_scheduleButton, &QPushButton::clicked, this, [this] { loadSchedule(m_scheduleButton); });
    nav->addWidget(m_featuredButton);
    nav->addWidget(m_programsButton);
    nav->addWidget(m_searchButton);
    nav->addWidget(m_scheduleButton);
    m_sectionLabel = new QLabel(m_navigationView);
    m_sectionLabel->setObjectName(QStringLiteral("SectionLabel"));
    m_sectionLabel->setFont(Theme::font(20, true));
    m_sectionLabel->setAlignment(Qt::AlignCenter);
    m_sectionLabel->setMinimumWidth(100);
    nav->addWidget(m_sectionLabel, 1);
    m_favoritesButton = barButton(tr("Favorites"), QStringLiteral("FavoritesButton"), m_navigationView);
    m_profileButton = barButton(tr("Profile"), QStringLiteral("ProfileButton"), m_navigationView);
    connect(m_favoritesButton, &QPushButton::clicked, this, [this] { popupFavorites(m_favoritesButton); });
    connect(m_profileButton, &QPushButton::clicked, this, [this] { popupProfile(m_profileButton); });
    nav->addWidget(m_favoritesButton);
    nav->addWidget(m_profileButton);
    column->addWidget(m_navigationView);

    m_sectionView = new QWidget(root);
    m_sectionView->setObjectName(QStringLiteral("SectionView"));
    auto* sectionLayout = new QVBoxLayout(m_sectionView);
    sectionLayout->setContentsMargins(0, 0, 0, 0);
    column->addWidget(m_sectionView, 1);

    // Everything a finger can reach, a keyboard can too.
    const struct
    {
        const char* keys;
        QPushButton* button;
    } shortcuts[] = {{"Alt+1", m_featuredButton}, {"Alt+2", m_programsButton},  {"Alt+3", m_scheduleButton},
                     {"Ctrl+F", m_searchButton},  {"Alt+F", m_favoritesButton}, {"Alt+P", m_profileButton},
                     {"Alt+I", m_infoButton},     {"Alt+S", m_settingsButton}};
    for (const auto& s : shortcuts) {
        auto* sc = new QShortcut(QKeySequence(QString::fromLatin1(s.keys)), root);
        QPushButton* b = s.button;
        connect(sc, &QShortcut::activated, b, [this, b] {
            // A web page over the hub keeps the keys to itself.
            if (b->isEnabled() && !modalViewController())
                b->click();
        });
    }
    return root;
}

// The load sequence.
void ContainerViewController::viewDidLoad()
{
    m_pushClient = new PushClient(this);
    m_pushClient->setDelegate(this);
    updateStationImage();
    m_loadingView = new LoadingOverlay(view(), QStringLiteral("Loading"));

    if (isConnectedToInternet()) {
        loadFeatured();
        m_observing = true;
        connect(reachability(), &Reachability::statusChanged, this, [this] { connectivityChanged(); });
        NotificationCenter::defaultCenter().addObserver(
            this, QStringLiteral("UpdateStationImage"),
            [this](const Notification&) { updateStationImage(); });
    } else {
        showConnectionAlert(2);
    }
}

// ---- sections --------------------------------------------------------------------------------

void ContainerViewController::setSectionButtons(QPushButton* chosen)
{
    for (QPushButton* b : {m_featuredButton, m_programsButton, m_scheduleButton}) {
        b->setChecked(b == chosen);
        b->setEnabled(b != chosen);
    }
}

void ContainerViewController::loadSection(SectionViewController* section)
{
    for (PopoverController* p : {m_favoritesPopover, m_infoPopover, m_settingsPopover, m_profilePopover})
        if (p && p->isPopoverVisible())
            p->dismissPopoverAnimated(true);
    if (m_active) {
        SectionViewController* old = m_active;
        old->willDisappear(false);
        if (old->isViewLoaded())
            old->view()->hide();
        old->didDisappear(false);
        old->unloadView();
        m_active = nullptr;
        old->deleteLater();
    }
    if (m_communicationFailedTimer) {
        m_communicationFailedTimer->invalidate();
        m_communicationFailedTimer.reset();
    }
    section->setParent(this);
    QPointer<SectionViewController> s(section);
    // Finished on the next turn, so a switch asked from inside another screen's callback
    // completes after that callback returns.
    RunLoop::post(
        [this, s] {
            if (s)
                finishLoadSection(s);
        },
        this);
}

void ContainerViewController::finishLoadSection(SectionViewController* section)
{
    if (!isViewLoaded())
        return;
    m_active = section;
    section->willAppear(false);
    QWidget* v = section->view();
    v->setParent(m_sectionView);
    m_sectionView->layout()->addWidget(v);
    v->show();
    m_sectionLabel->setText(elided(section->sectionTitle(), m_sectionLabel->font(), 320));
    m_sectionLabel->setAccessibleName(section->sectionTitle());
    section->didAppear(false);
}

void ContainerViewController::loadFeatured()
{
    pageView(QStringLiteral("/spotlight"));
    if (m_loadingView)
        m_loadingView->hide(false);
    setSectionButtons(m_featuredButton);
    loadSection(new FeaturedViewController());
    AnalyticsTracker::sharedInstance()->dispatch();
}

void ContainerViewController::popupPrograms()
{
    loadProgramList(false);
}

void ContainerViewController::searchProgramsAction()
{
    loadProgramList(true);
}

void ContainerViewController::loadProgramList(bool)
{
    pageView(QStringLiteral("/program_list"));
    if (m_loadingView)
        m_loadingView->hide(false);
    setSectionButtons(m_programsButton);
    auto* s = new UnavailableViewController(
        tr("Programs"), tr("The list of every program arrives in a later version of the app."),
        QSize(768, 948));
    s->setKind(SectionViewController::Kind::ProgramList);
    loadSection(s);
}

void ContainerViewController::loadSchedule(QObject* sender)
{
    pageView(QStringLiteral("/schedule/ask_location"));
    if (m_loadingView)
        m_loadingView->hide(false);
    setSectionButtons(m_scheduleButton);
    auto* s = new UnavailableViewController(
        tr("TV Schedule"), tr("Your station's TV schedule arrives in a later version of the app."),
        QSize(768, 948));
    s->setSectionTitle(QStringLiteral("TV Schedule"));
    s->setKind(SectionViewController::Kind::Schedule);
    loadSection(s);
    // No feed can be chosen yet, so a touch on the schedule asks for the settings at once.
    if (sender)
        popupSettings(m_settingsButton);
}

void ContainerViewController::loadProgram(const VEXOProgram& program)
{
    pageView(QStringLiteral("%1/%2").arg(QStringLiteral("/program_page"), program.title()));
    if (m_loadingView)
        m_loadingView->hide(false);
    setSectionButtons(nullptr);
    for (PopoverController* p : {m_favoritesPopover, m_settingsPopover, m_profilePopover})
        if (p && p->isPopoverVisible())
            p->dismissPopoverAnimated(true);
    auto* page = new UnavailableViewController(
        program.title(), tr("Program pages arrive in a later version of the app."), QSize(768, 948));
    page->setKind(SectionViewController::Kind::Episode);
    page->setPageProgram(program);
    loadSection(page);
}

void ContainerViewController::loadEpisode(const VEXOEpisode& episode)
{
    const QString programTitle = episode.program() ? episode.program()->title() : QString();
    pageView(QStringLiteral("%1/%2/%3")
                 .arg(QStringLiteral("/episode"), programTitle, episode.title().value_or(QString())));
    if (m_loadingView)
        m_loadingView->hide(false);
    setSectionButtons(nullptr);
    for (PopoverController* p : {m_favoritesPopover, m_profilePopover})
        if (p && p->isPopoverVisible())
            p->dismissPopoverAnimated(true);
    const QString title = episode.title().value_or(programTitle);
    RunLoop::post(
        [this, title, episode] {
            auto* page = new UnavailableViewController(
                title, tr("Video pages and the player arrive in a later version of the app."),
                QSize(768, 948));
            page->setKind(SectionViewController::Kind::Episode);
            page->setPageEpisode(episode);
            loadSection(page);
        },
        this);
}

// ---- failure and reload ----------------------------------------------------------------------

void ContainerViewController::loadFailed(SectionViewController* section)
{
    if (m_communicationFailedTimer)
        return; // absorbed: one alert for a burst of failures
    m_reloadObject = section;
    m_communicationFailedTimer = Timer::scheduled(
        3000, false, [this] { showLoadFailedAlert(); }, this);
}

void ContainerViewController::showLoadFailedAlert()
{
    auto* alert =
        new AlertView(kLoadFailedTitle, QString(), QStringLiteral("Cancel"), {QStringLiteral("Retry")});
    connect(alert, &AlertView::clickedButtonAtIndex, this, [this](int index) {
        QPointer<SectionViewController> reload = m_reloadObject;
        m_communicationFailedTimer.reset();
        m_reloadObject = nullptr;
        if (index != 1 || !reload)
            return;
        switch (reload->kind()) {
        case SectionViewController::Kind::Featured:
            loadFeatured();
            break;
        case SectionViewController::Kind::ProgramList:
            loadProgramList(false);
            break;
        case SectionViewController::Kind::Schedule:
            loadSchedule(nullptr);
            break;
        case SectionViewController::Kind::Episode:
            if (const std::optional<VEXOEpisode> e = reload->pageEpisode())
                loadEpisode(*e);
            else if (const std::optional<VEXOProgram> p = reload->pageProgram())
                loadProgram(*p);
            break;
        default:
            break;
        }
    });
    alert->show();
}

// ---- connectivity ----------------------------------------------------------------------------

void ContainerViewController::showConnectionAlert(int tag)
{
    auto* alert = new AlertView(kConnectionTitle, kConnectionMessage, QStringLiteral("Cancel"),
                                {QStringLiteral("Retry")}, this);
    alert->setTag(tag);
    m_reachabilityAlert = alert;
    connect(alert, &AlertView::clickedButtonAtIndex, this, [this, alert](int index) {
        if (index != 1)
            return; // "Cancel": remembered, so no further alert until a later "Retry" succeeds
        if (!isConnectedToInternet()) {
            alert->show();
            return;
        }
        const int t = alert->tag();
        m_reachabilityAlert = nullptr;
        alert->deleteLater();
        if (t == 2) {
            loadFeatured();
            // Launched offline: watch the connection from now on, as a normal launch does.
            if (!m_observing) {
                m_observing = true;
                connect(reachability(), &Reachability::statusChanged, this,
                        [this] { connectivityChanged(); });
            }
        }
    });
    QPointer<AlertView> a(alert);
    RunLoop::post(
        [a] {
            if (a)
                a->show();
        },
        this);
}

void ContainerViewController::connectivityChanged()
{
    if (!isConnectedToInternet() && !m_reachabilityAlert) {
        if (!m_videoPlayerPresented)
            showConnectionAlert(1);
        return;
    }
    if (m_registerDeviceFailed)
        PushRegistrar::sharedInstance()->registerForRemoteNotificationTypes(PushRegistrar::kAllTypes);
    if (m_getNotificationsFailed)
        getNewNotifications();
}

// ---- push messages ---------------------------------------------------------------------------

void ContainerViewController::registerDevice(const QByteArray& deviceToken)
{
    if (m_registeringDevice)
        return;
    if (!m_pushClient) {
        // No view yet (or torn down): asked again when the connection next changes.
        m_registerDeviceFailed = true;
        return;
    }
    m_registeringDevice = true;
    m_pushClient->registerDevice(deviceToken);
}

void ContainerViewController::registerDeviceSucceeded()
{
    m_registeringDevice = false;
    m_registerDeviceFailed = false;
}

void ContainerViewController::registerDeviceFailed(const Error&)
{
    m_registeringDevice = false;
    m_registerDeviceFailed = true;
}

void ContainerViewController::getNewNotifications()
{
    const int allowed = PushRegistrar::sharedInstance()->enabledRemoteNotificationTypes();
    if (!(allowed & (RemoteNotificationTypeAlert | RemoteNotificationTypeBadge)))
        return;
    if (m_gettingNotifications || !m_pushClient)
        return;
    m_gettingNotifications = true;
    m_pushClient->getNewNotifications();
}

void ContainerViewController::getNewNotificationsSucceeded(const QList<PushNotification>& notifications)
{
    m_gettingNotifications = false;
    m_getNotificationsFailed = false;
    for (const PushNotification& n : notifications) {
        auto* alert = new AlertView(n.shortText.value_or(QString()), n.longText.value_or(QString()),
                                    QStringLiteral("OK"), {});
        alert->show();
    }
}

void ContainerViewController::getNewNotificationsFailed(const Error&)
{
    m_gettingNotifications = false;
    m_getNotificationsFailed = true;
}

// ---- popovers --------------------------------------------------------------------------------

void ContainerViewController::togglePopover(PopoverController*& popover,
                                            std::function<ViewController*()> make, QWidget* sender)
{
    if (popover && popover->isPopoverVisible()) {
        popover->dismissPopoverAnimated(true);
        return;
    }
    for (PopoverController* p : {m_favoritesPopover, m_profilePopover, m_infoPopover, m_settingsPopover})
        if (p && p != popover && p->isPopoverVisible())
            p->dismissPopoverAnimated(true);
    if (!popover) {
        ViewController* content = make();
        content->setParent(this);
        popover = new PopoverController(content, this);
    }
    popover->setPassthroughViews({m_navigationView});
    if (!sender)
        sender = m_navigationView;
    popover->presentPopoverFromRect(sender->rect(), sender, PopoverController::ArrowAny, true);
}

void ContainerViewController::popupFavorites(QWidget* sender)
{
    const bool opening = !(m_favoritesPopover && m_favoritesPopover->isPopoverVisible());
    togglePopover(
        m_favoritesPopover,
        [] {
            return new UnavailableViewController(tr("Favorites"),
                                                 tr("Favorite programs and your viewing history arrive in a "
                                                    "later version of the app."),
                                                 QSize(320, 480));
        },
        sender);
    if (opening) {
        AnalyticsTracker::sharedInstance()->trackEvent(
            QStringLiteral("favorites"), QStringLiteral("view_favorites_popover"), QString(), -1);
        pageView(QStringLiteral("/favorites"));
    }
}

void ContainerViewController::popupProfile(QWidget* sender)
{
    togglePopover(
        m_profilePopover,
        [] {
            return new UnavailableViewController(
                tr("Profile"), tr("Signing in and your account arrive in a later version of the app."),
                QSize(320, 480));
        },
        sender);
}

void ContainerViewController::popupInfo(QWidget* sender)
{
    const bool opening = !(m_infoPopover && m_infoPopover->isPopoverVisible());
    togglePopover(
        m_infoPopover,
        [] {
            return new UnavailableViewController(
                tr("Info"), tr("About, legal and settings pages arrive in a later version of the app."),
                QSize(320, 480));
        },
        sender);
    if (opening)
        pageView(QStringLiteral("/info"));
}

void ContainerViewController::popupSettings(QWidget* sender)
{
    const bool building = !m_settingsPopover;
    togglePopover(
        m_settingsPopover,
        [] {
            return new UnavailableViewController(
                tr("Settings"), tr("Choosing your local station arrives in a later version of the app."),
                QSize(320, 400));
        },
        sender ? sender : m_settingsButton);
    if (m_settingsPopover)
        m_settingsPopover->setPopoverContentSize(QSize(320, 445));
    if (building && m_settingsPopover) {
        // The local programs depend on the station: closing the settings refreshes the list.
        connect(m_settingsPopover, &PopoverController::didDismissPopover, this, [this] {
            if (m_active && m_active->kind() == SectionViewController::Kind::ProgramList)
                loadProgramList(false);
        });
    }
}

void ContainerViewController::dismissPopovers()
{
    for (PopoverController* p : {m_favoritesPopover, m_profilePopover, m_infoPopover, m_settingsPopover})
        if (p)
            p->dismissPopoverAnimated(false);
    hideFacebookModal();
}

void ContainerViewController::hideFacebookModal()
{
    // Posting to the social network happens on its web page in the browser, so no dialog of
    // it ever sits in our window; nothing to take down.
}

// ---- sharing, buying, web pages --------------------------------------------------------------

QString ContainerViewController::shareEventAction(const QString& type, const QString& service)
{
    QString prefix;
    if (type == QLatin1String("episode"))
        prefix = QStringLiteral("episode");
    else if (type == QLatin1String("program"))
        prefix = QStringLiteral("program");
    else if (type == QLatin1String("airdate"))
        prefix = QStringLiteral("schedule");
    else
        return QString();
    if (service == ShareKit::kTwitter)
        return prefix + QStringLiteral("_twitter");
    if (service == ShareKit::kFacebook)
        return prefix + QStringLiteral("_facebook");
    if (service == ShareKit::kEmail)
        return prefix + QStringLiteral("_email");
    return QString();
}

void ContainerViewController::shareItem(const ShareItem& item, const QRect& fromRect)
{
    if (!isViewLoaded())
        return;
    ActionSheet* sheet = ShareKit::sharedInstance()->actionSheetForItem(item);
    const QRect rect(m_sectionView->mapTo(view(), fromRect.topLeft()), fromRect.size());
    sheet->showFromRect(rect, view(), true);
    m_shareActionSheet = sheet;
}

void ContainerViewController::popupBuyLinks(const QMap<QString, QString>& links, const QRect& fromRect)
{
    if (!isViewLoaded())
        return;
    if (m_buyActionSheet)
        m_buyActionSheet->dismissWithClickedButtonIndex(-1, false);
    BuyActionSheet* sheet = BuyActionSheet::actionSheetForLinks(links, this);
    connect(sheet, &ActionSheet::didDismissWithButtonIndex, sheet, &QObject::deleteLater);
    const std::optional<VEXOEpisode> episode =
        m_active && m_active->kind() == SectionViewController::Kind::Episode ? m_active->pageEpisode()
                                                                             : std::nullopt;
    const std::optional<VEXOProgram> program =
        m_active && m_active->kind() == SectionViewController::Kind::Episode ? m_active->pageProgram()
                                                                             : std::nullopt;
    if (episode) {
        const QString programTitle = episode->program() ? episode->program()->title() : QString();
        AnalyticsTracker::sharedInstance()->trackEvent(
            QStringLiteral("buy"), QStringLiteral("episode_buy"),
            QStringLiteral("%1|%2").arg(programTitle, episode->title().value_or(QString())), -1);
        sheet->setEpisode(*episode);
    } else if (program) {
        AnalyticsTracker::sharedInstance()->trackEvent(QStringLiteral("buy"), QStringLiteral("program_buy"),
                                                       program->title(), -1);
        sheet->setProgram(*program);
    }
    const QRect rect(m_sectionView->mapTo(view(), fromRect.topLeft()), fromRect.size());
    sheet->showFromRect(rect, view(), true);
    m_buyActionSheet = sheet;
}

void ContainerViewController::presentModalWebViewWithURL(const QUrl& url)
{
    if (!isViewLoaded())
        return;
    // Shop links come from the catalog: a web page, never a local file.
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        qWarning("zrp: not showing %s in the web panel", qPrintable(url.toString()));
        return;
    }
    if (m_modalWebView)
        closeModalWebView(nullptr);
    auto* page = new ModalWebViewController(url, this);
    page->setDelegate(this);
    m_modalWebView = page;
    presentModalViewController(page, true);
}

void ContainerViewController::closeModalWebView(QObject*)
{
    dismissModalViewControllerAnimated(true);
    delete m_modalWebView.data();
    m_modalWebView = nullptr;
}

void ContainerViewController::hideShareKitViews()
{
    ShareKit::sharedInstance()->hideCurrentView(true);
}

// ---- station, support, splash ----------------------------------------------------------------

void ContainerViewController::updateStationImage()
{
    if (!m_stationImage)
        return;
    // No station can be chosen yet, so the logo asks for one.
    m_stationImage->setImageURL(QUrl());
    m_stationImage->setDefaultImage(QImage(QStringLiteral(":/Select-Station.png")));
}

QUrl ContainerViewController::supportURL() const
{
    return QUrl(Config::shared().value(QStringLiteral("web.site_url")) +
                QStringLiteral("cgi-registry/sitemembershiplink.cgir"));
}

void ContainerViewController::supportZRP()
{
    openExternalUrlOrTell(supportURL());
}

void ContainerViewController::showSplashImage()
{
    if (m_shareActionSheet)
        m_shareActionSheet->dismissWithClickedButtonIndex(-1, false);
    if (m_buyActionSheet)
        m_buyActionSheet->dismissWithClickedButtonIndex(-1, false);
    for (AlertView* a : AlertView::visibleAlerts())
        a->dismissWithClickedButtonIndex(-1, false);
    if (!m_splashImage && isViewLoaded()) {
        auto* splash = new QLabel(view());
        splash->setObjectName(QStringLiteral("SplashImage"));
        splash->setProperty("zrpOverlay", true);
        splash->setStyleSheet(QStringLiteral("background-color: black;"));
        splash->setAlignment(Qt::AlignCenter);
        splash->setScaledContents(true);
        splash->setPixmap(QPixmap(QStringLiteral(":/Default-Landscape.png")));
        splash->setGeometry(view()->rect());
        splash->show();
        splash->raise();
        m_splashImage = splash;
    }
    dismissPopovers();
}

void ContainerViewController::hideSplashImage()
{
    delete m_splashImage.data();
    m_splashImage = nullptr;
}

void ContainerViewController::cleanupViews()
{
    // The push client goes with the view; a request under way ends unanswered, so the marks
    // clear with it and the next view's client starts fresh.
    delete m_pushClient.data();
    m_pushClient = nullptr;
    if (m_registeringDevice)
        m_registerDeviceFailed = true; // the token never reached the service: ask again later
    if (m_gettingNotifications)
        m_getNotificationsFailed = true;
    m_registeringDevice = false;
    m_gettingNotifications = false;
    NotificationCenter::defaultCenter().removeObserver(this);
    if (m_observing && reachability())
        disconnect(reachability(), nullptr, this, nullptr);
    m_observing = false;
    if (m_communicationFailedTimer) {
        m_communicationFailedTimer->invalidate();
        m_communicationFailedTimer.reset();
    }
    m_reloadObject = nullptr;
    for (PopoverController** p :
         {&m_favoritesPopover, &m_profilePopover, &m_infoPopover, &m_settingsPopover}) {
        if (*p) {
            (*p)->dismissPopoverAnimated(false);
            delete (*p)->contentViewController();
            delete *p;
            *p = nullptr;
        }
    }
    delete m_reachabilityAlert.data();
    m_reachabilityAlert = nullptr;
    if (m_modalWebView)
        closeModalWebView(nullptr);
    if (m_shareActionSheet)
        m_shareActionSheet->dismissWithClickedButtonIndex(-1, false);
    m_shareActionSheet = nullptr;
    if (m_buyActionSheet) {
        m_buyActionSheet->dismissWithClickedButtonIndex(-1, false);
        delete m_buyActionSheet.data();
    }
    m_buyActionSheet = nullptr;
    if (m_active) {
        m_active->unloadView();
        delete m_active.data();
        m_active = nullptr;
    }
    hideSplashImage();
    unloadView();
    m_loadingView = nullptr;
    m_sectionView = nullptr;
    m_sectionLabel = nullptr;
    m_featuredButton = m_programsButton = m_searchButton = m_scheduleButton = nullptr;
    m_favoritesButton = m_profileButton = m_infoButton = m_supportButton = m_settingsButton = nullptr;
    m_stationButton = nullptr;
    m_stationImage = nullptr;
    m_topView = m_navigationView = nullptr;
}
