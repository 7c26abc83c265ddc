#include "ZRPRemoteConfig.h"

#include "core/Config.h"
#include "core/Device.h"
#include "core/VersionComparator.h"
#include "net/HttpClient.h"
#include "profile/UserDefaultsUtil.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"

#include <mutex>

using namespace zrp;

namespace {
std::mutex g_mutex;
ZRPRemoteConfig* g_instance = nullptr;

qint32 storedOrDefault(const QString& key, qint32 fallback)
{
    const std::optional<qint64> v = UserDefaultsUtil::integerForKey(key);
    if (!v || *v == 0)
        return fallback;
    return qint32(std::clamp<qint64>(*v, INT32_MIN, INT32_MAX));
}
} // namespace

ZRPRemoteConfig* ZRPRemoteConfig::sharedInstance()
{
    std::lock_guard lock(g_mutex);
    if (!g_instance)
        g_instance = new ZRPRemoteConfig();
    return g_instance;
}

void ZRPRemoteConfig::resetSharedInstance()
{
    std::lock_guard lock(g_mutex);
    delete g_instance;
    g_instance = nullptr;
}

ZRPRemoteConfig::ZRPRemoteConfig()
{
    m_backgroundFastTime = storedOrDefault(UserDefaultsUtil::kBackgroundFastTime, 60);
    m_backgroundSplashTime = storedOrDefault(UserDefaultsUtil::kBackgroundSplashTime, 180);
    m_backgroundRefreshTime = storedOrDefault(UserDefaultsUtil::kBackgroundRefreshTime, 108000);
}

void ZRPRemoteConfig::loadSettings()
{
    m_receivedData.clear();
    if (m_task)
        m_task->cancel();
    HttpRequest req(Config::shared().url(QStringLiteral("remote_config.url")));
    req.timeoutMs = 60000;
    QPointer<ZRPRemoteConfig> self(this);
    m_task = HttpClient::shared().send(req, [self](const HttpResponse& r, const Error& e) {
        if (!self)
            return;
        self->m_task = nullptr;
        // A failed download, an error page included, changes and saves nothing.
        if (e || r.status >= 400)
            return;
        self->m_receivedData = r.body;
        self->readData(self->m_receivedData);
    });
}

qint32 ZRPRemoteConfig::leadingInteger(const QString& text)
{
    int i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > qint64(INT32_MAX) + 1)
            break; // clamped below; no overflow on a long run of digits
    }
    if (negative)
        value = -value;
    return qint32(std::clamp<qint64>(value, INT32_MIN, INT32_MAX));
}

void ZRPRemoteConfig::readData(const QByteArray& data)
{
    if (data.isNull())
        return;
    // The file is plain ASCII; any other byte is taken as Latin-1 and so never matches a key.
    QString text = QString::fromLatin1(data);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QStringList parts = line.split(QLatin1Char('='));
        if (parts.size() != 2)
            continue;
        const QString& key = parts[0];
        const QString& value = parts[1];
        if (key == QLatin1String("background_fast_time"))
            m_backgroundFastTime = leadingInteger(value);
        else if (key == QLatin1String("background_splash_time"))
            m_backgroundSplashTime = leadingInteger(value);
        else if (key == QLatin1String("background_refresh_time"))
            m_backgroundRefreshTime = leadingInteger(value);
        else if (key == QLatin1String("minimum_version"))
            checkMinimumVersion(value);
    }
    saveValuesToUserDefaults();
    emit settingsApplied();
}

void ZRPRemoteConfig::saveValuesToUserDefaults()
{
    UserDefaultsUtil::setInteger(UserDefaultsUtil::kBackgroundFastTime, m_backgroundFastTime);
    UserDefaultsUtil::setInteger(UserDefaultsUtil::kBackgroundSplashTime, m_backgroundSplashTime);
    UserDefaultsUtil::setInteger(UserDefaultsUtil::kBackgroundRefreshTime, m_backgroundRefreshTime);
}

void ZRPRemoteConfig::checkMinimumVersion(const QString& minimum)
{
    if (VersionComparator::compare(minimum, Bundle::version()) <= 0)
        return;
    auto* alert = new ui::AlertView(
        QStringLiteral("New Version Available"),
        QStringLiteral("Please update to the new ZRP app.  We've made improvements to make your experience "
                       "better than ever before. Enjoy!"),
        QString(), {QStringLiteral("Update Now")});
    connect(alert, &ui::AlertView::didDismissWithButtonIndex, this, [this](int) { openStorePage(); });
    alert->show();
    emit updateOffered();
}

void ZRPRemoteConfig::openStorePage()
{
    zrp::ui::openExternalUrlOrTell(Config::shared().url(QStringLiteral("store.app_url")));
}
