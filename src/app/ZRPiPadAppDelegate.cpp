#include "ZRPiPadAppDelegate.h"

#include "ContainerViewController.h"
#include "ZRPRemoteConfig.h"
#include "analytics/AnalyticsTracker.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/RunLoop.h"
#include "core/Text.h"
#include "net/DownloadCache.h"
#include "net/HttpClient.h"
#include "outside/AudienceMeter.h"
#include "outside/RatingPrompt.h"
#include "outside/SurveyInvitations.h"
#include "push/PushRegistrar.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"
#include "ui/LoadingOverlay.h"

#include <QApplication>
#include <QEvent>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <QWidget>

using namespace zrp;

namespace {
ZRPiPadAppDelegate* g_delegate = nullptr;
}

ZRPiPadAppDelegate::ZRPiPadAppDelegate(QObject* parent) : QObject(parent)
{
    g_delegate = this;
}

ZRPiPadAppDelegate::~ZRPiPadAppDelegate()
{
    if (PushRegistrar::sharedInstance()->delegate() == this)
        PushRegistrar::sharedInstance()->setDelegate(nullptr);
    AnalyticsTracker::sharedInstance()->stopTracker();
    ContainerViewController::resetSharedInstance();
    delete m_window.data();
    if (g_delegate == this)
        g_delegate = nullptr;
}

ZRPiPadAppDelegate* ZRPiPadAppDelegate::sharedInstance()
{
    return g_delegate;
}

bool ZRPiPadAppDelegate::didFinishLaunchingWithOptions()
{
    m_videoAdsThreshold = 180.0;

    // HTTP defaults: the permanent download cache for every request, and a one-hour time-out.
    Config& config = Config::shared();
    if (!DownloadCache::shared()) {
        auto* cache = new DownloadCache(config.httpCacheDir(), this);
        DownloadCache::setShared(cache);
    }
    HttpClient::shared().setDefaultTimeoutMs(3600 * 1000);

    // Analytics: errors are ignored here, as everywhere in the product.
    AnalyticsTracker* tracker = AnalyticsTracker::sharedInstance();
    tracker->setCollectorURL(config.url(QStringLiteral("analytics.collector_url")));
    tracker->startTrackerWithAccountID(config.value(QStringLiteral("analytics.account_id")), 60);
    tracker->setCustomVariableAtIndex(1, QStringLiteral("Platform"), Device::platformDescription(), 2);
    tracker->setCustomVariableAtIndex(2, QStringLiteral("iOSVersion"), Device::systemVersion(), 2);
    tracker->setCustomVariableAtIndex(3, QStringLiteral("AppVersion"), Bundle::version(), 2);

    ZRPRemoteConfig::sharedInstance()->loadSettings();

    // The hub's view fills the window; building it runs the hub's load sequence.
    m_window = new QWidget();
    m_window->setObjectName(QStringLiteral("ZRPWindow"));
    m_window->setWindowTitle(Bundle::displayName());
    m_window->setMinimumSize(1024, 768);
    m_window->resize(1024, 768);
    // Alerts, sheets and popovers live in the window, outside the hub's view: they take the
    // product's look from here.
    m_window->setStyleSheet(ui::Theme::styleSheet());
    {
        QPalette pal = m_window->palette();
        pal.setColor(QPalette::Window, ui::Theme::background);
        pal.setColor(QPalette::WindowText, ui::Theme::text);
        m_window->setPalette(pal);
    }
    auto* layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    ui::setMainWindow(m_window);
    installHubView();
    m_window->installEventFilter(this);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &ZRPiPadAppDelegate::applicationWillTerminate);
    m_window->show();

    // Push messages of every kind: badge, sound and alert. There is no application badge on
    // the desktop to clear.
    PushRegistrar::sharedInstance()->setDelegate(this);
    PushRegistrar::sharedInstance()->registerForRemoteNotificationTypes(PushRegistrar::kAllTypes);

    // Links given at launch are not handled here: they arrive through handleOpenURL after the
    // launch, as on every current system.
    startOutsideFacilities();

    // The system tells a freshly launched application that it became active, right after the
    // launch; messages waiting since the last session are fetched then.
    RunLoop::post([this] { applicationDidBecomeActive(); }, this);
    return true;
}

void ZRPiPadAppDelegate::startOutsideFacilities()
{
    const Config& config = Config::shared();
    AudienceMeter::sharedInstance()->notifyStart(config.value(QStringLiteral("audience.customer_id")),
                                                 config.value(QStringLiteral("audience.secret")));

    RatingPrompt* rating = RatingPrompt::sharedInstance();
    rating->setAppId(config.value(QStringLiteral("rating.app_id")));
    rating->setDaysUntilPrompt(0);
    rating->setUsesUntilPrompt(0);
    rating->setTimeBeforeReminding(1);
    rating->setSignificantEventsUntilPrompt(0);
    rating->appLaunched(true);

    SurveyInvitations* survey = SurveyInvitations::sharedInstance();
    survey->initWithCustomerId(config.value(QStringLiteral("survey.customer_id")));
    survey->addMeasure(QStringLiteral("ipad_app"), 0);
    survey->checkEligibility();
}

// ---- push ------------------------------------------------------------------------------------

void ZRPiPadAppDelegate::didRegisterForRemoteNotificationsWithDeviceToken(const QByteArray& deviceToken)
{
    ContainerViewController::sharedInstance()->registerDevice(deviceToken);
}

void ZRPiPadAppDelegate::didFailToRegisterForRemoteNotificationsWithError(const Error&)
{
    // The hub asks again when the connection next changes.
    ContainerViewController::sharedInstance()->setRegisterDeviceFailed(true);
}

void ZRPiPadAppDelegate::didReceiveRemoteNotification(const QVariantMap&)
{
    // The message itself is fetched from the service; the payload is not read.
    ContainerViewController::sharedInstance()->getNewNotifications();
}

// ---- deep links ------------------------------------------------------------------------------

QMap<QString, QString> ZRPiPadAppDelegate::parseQuery(const QString& query)
{
    auto unescape = [](const QString& text) {
        const QByteArray bytes = QByteArray::fromPercentEncoding(text.toUtf8());
        QStringDecoder decode(QStringDecoder::Utf8);
        const QString out = decode(bytes);
        return decode.hasError() ? QString() : out;
    };
    QMap<QString, QString> out;
    for (const QString& piece : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype eq = piece.indexOf(QLatin1Char('='));
        if (eq < 0)
            out.insert(unescape(piece), QString());
        else
            out.insert(unescape(piece.left(eq)), unescape(piece.mid(eq + 1)));
    }
    return out;
}

void ZRPiPadAppDelegate::showLinkAlert(const QString& message)
{
    auto* alert = new ui::AlertView(QStringLiteral("External Link Error"), message, QStringLiteral("OK"), {});
    alert->show();
}

bool ZRPiPadAppDelegate::handleOpenURL(const QString& link)
{
    if (link.isEmpty())
        return false;
    // Read from the text as given: a parsed URL would normalise what the analytics record.
    const qsizetype schemeEnd = link.indexOf(QStringLiteral("://"));
    QString rest = schemeEnd >= 0 ? link.mid(schemeEnd + 3) : link;
    QString query;
    const qsizetype q = rest.indexOf(QLatin1Char('?'));
    if (q >= 0) {
        query = rest.mid(q + 1);
        rest = rest.left(q);
    }
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QString kind = slash >= 0 ? rest.left(slash) : rest;
    const QString id = slash >= 0 ? QString(rest.mid(slash)).remove(QLatin1Char('/')) : QString();

    const QMap<QString, QString> params = parseQuery(query);
    AnalyticsTracker* tracker = AnalyticsTracker::sharedInstance();
    if (params.contains(QStringLiteral("utm_campaign")) && params.contains(QStringLiteral("utm_source")) &&
        params.contains(QStringLiteral("utm_medium")))
        tracker->setReferrer(query);
    tracker->trackEvent(QStringLiteral("external_link"), QStringLiteral("%1|%2").arg(kind, id), link, -1);

    if (kind != QLatin1String("video") && kind != QLatin1String("program")) {
        showLinkAlert(
            QStringLiteral("Sorry, there was a problem trying to load the external link:%1").arg(link));
        return true;
    }
    if (m_vexoAPI)
        endLookUp(); // a newer link replaces a look-up still under way
    m_vexoAPI = new VEXOClientAPI(this);
    m_vexoAPI->setDelegate(this);
    if (auto* overlay = ContainerViewController::sharedInstance()->loadingView())
        overlay->show(true);
    // The id comes from outside: escaped, so it can only ever be a value, never more query.
    const QString safeId = Text::percentEscapeUnreserved(id);
    if (kind == QLatin1String("video"))
        m_vexoAPI->getEpisodesByTPMediaId(safeId, QStringLiteral("video"));
    else
        m_vexoAPI->getProgramBySlug(safeId, QStringLiteral("program"));
    return true;
}

void ZRPiPadAppDelegate::didFindResults(const QString& requestId, const VEXOResults& results)
{
    ContainerViewController* hub = ContainerViewController::sharedInstance();
    if (auto* overlay = hub->loadingView())
        overlay->hide(true);
    const bool any = !results.episodes.isEmpty() || !results.programs.isEmpty();
    if (any) {
        if (requestId == QLatin1String("video") && !results.episodes.isEmpty())
            hub->loadEpisode(results.episodes.first());
        else if (requestId == QLatin1String("program") && !results.programs.isEmpty())
            hub->loadProgram(results.programs.first());
    } else {
        showLinkAlert(
            QStringLiteral("Sorry, that %1 is not currently available for ZRP mobile").arg(requestId));
    }
    endLookUp();
}

void ZRPiPadAppDelegate::didFail(const QString& requestId, const zrp::Error&)
{
    if (auto* overlay = ContainerViewController::sharedInstance()->loadingView())
        overlay->hide(true);
    showLinkAlert(QStringLiteral("Sorry, there was a problem trying to load that %1").arg(requestId));
    endLookUp();
}

void ZRPiPadAppDelegate::endLookUp()
{
    if (!m_vexoAPI)
        return;
    m_vexoAPI->cancelRequests();
    // Released on a later turn: this may run inside the client's own callback.
    m_vexoAPI->deleteLater();
    m_vexoAPI = nullptr;
}

// ---- lifecycle -------------------------------------------------------------------------------

void ZRPiPadAppDelegate::installHubView()
{
    QWidget* hubView = ContainerViewController::sharedInstance()->view();
    m_window->layout()->addWidget(hubView);
    hubView->show();
}

bool ZRPiPadAppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::WindowStateChange) {
        const bool minimised = m_window->windowState().testFlag(Qt::WindowMinimized);
        if (minimised && m_state != State::Background) {
            m_state = State::Background;
            applicationDidEnterBackground();
        } else if (!minimised && m_state == State::Background) {
            applicationWillEnterForeground();
            m_state = State::Active;
            applicationDidBecomeActive();
        }
    }
    return QObject::eventFilter(watched, event);
}

void ZRPiPadAppDelegate::applicationDidBecomeActive()
{
    // The saved reminders are loaded here once they exist.
    ContainerViewController::sharedInstance()->getNewNotifications();
}

void ZRPiPadAppDelegate::applicationDidEnterBackground()
{
    if (m_state != State::Background) {
        RatingPrompt::sharedInstance()->appEnteredForeground(true);
        return;
    }
    m_enteredBackgroundDate = Clock::shared()->now();
    ContainerViewController::sharedInstance()->showSplashImage();
    // The rating prompt counts a use in any state.
    RatingPrompt::sharedInstance()->appEnteredForeground(true);
}

void ZRPiPadAppDelegate::applicationWillEnterForeground()
{
    if (m_state != State::Background)
        return;
    const qint64 away =
        m_enteredBackgroundDate.isValid() ? m_enteredBackgroundDate.secsTo(Clock::shared()->now()) : 0;
    if (away > ZRPRemoteConfig::sharedInstance()->backgroundRefreshTime())
        resetViews();
    else
        ContainerViewController::sharedInstance()->hideSplashImage();
    ZRPRemoteConfig::sharedInstance()->loadSettings();
}

void ZRPiPadAppDelegate::applicationWillTerminate()
{
    // The station selection and the reminders are saved here once they exist; every other
    // store is already durable.
}

void ZRPiPadAppDelegate::resetViews()
{
    ContainerViewController* hub = ContainerViewController::sharedInstance();
    hub->hideShareKitViews();
    if (m_window && hub->isViewLoaded())
        m_window->layout()->removeWidget(hub->view());
    hub->cleanupViews();
    if (m_window) {
        installHubView();
        m_window->show();
    }
}
