#include "ZRPiPadAppDelegate.h"

#include "ContainerViewController.h"
#include "analytics/AnalyticsTracker.h"
#include "core/Config.h"
#include "core/Device.h"
#include "net/DownloadCache.h"
#include "net/HttpClient.h"
#include "ui/Kit.h"

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
    AnalyticsTracker::sharedInstance()->stopTracker();
    ContainerViewController::resetSharedInstance();
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

    // The hub becomes the window; building its view runs its load sequence.
    ContainerViewController* hub = ContainerViewController::sharedInstance();
    m_window = hub->view();
    m_window->setWindowTitle(Bundle::displayName());
    m_window->setMinimumSize(1024, 768);
    ui::setMainWindow(m_window);
    m_window->show();
    return true;
}
