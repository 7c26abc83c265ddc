#include "Config.h"

#include <QDir>
#include <QFile>
#include <QSettings>

namespace zrp {

// Catalog keys: a product tag, a hyphen and a UUID (44 characters for the tablet, 46 for the
// phone); their secrets are UUID texts. The sandbox accepts the same pairs.
const std::vector<Config::Entry>& Config::entries()
{
    static const std::vector<Entry> table = {
        {"catalog.base_url", "https://catalog.zrp.example/vexo/v1/", "/vexo/v1/"},
        {"catalog.tablet_consumer_key", "ZRPIPAD-6B1F0C52-3E4A-4D8B-9F27-1C5E8A0D7B34", nullptr},
        {"catalog.tablet_secret_key", "A9C3E1F7-52B8-4D06-8E4F-3B7D2A6C9E10", nullptr},
        {"catalog.phone_consumer_key", "ZRPIPHONE-0E8D4C2A-7B61-4F95-A3D0-5C9E1B7F2A48", nullptr},
        {"catalog.phone_secret_key", "4F2A8C6E-1D3B-4A97-B5E0-9C7F3D1A8B62", nullptr},
        {"video_site.base_url", "https://video.zrp.example/", nullptr},
        {"images.base_url", "https://images.zrp.example/", "/images/"},
        {"station_images.base_url", "https://stations.zrp.example/", "/"},
        {"schedule.base_url", "https://schedule.zrp.example/", "/schedule/"},
        {"account.base_url", "https://account.zrp.example/", "/account/"},
        {"push.base_url", "https://push.zrp.example/", "/push/"},
        {"remote_config.url", "https://www.zrp.example/apps/ipad-conf.plist", "/config/ipad-conf.plist"},
        {"log.base_url", "https://log.zrp.example/log/", "/log/"},
        {"liverail.base_url", "https://ads.zrp.example/liverail/", "/liverail/"},
        {"analytics.collector_url", "https://collect.zrp.example/collect", "/collect"},
        {"analytics.account_id", "ZA-20481-7", nullptr},
        {"store.app_url", "https://apps.zrp.example/tablet", nullptr},
        {"web.site_url", "https://www.zrp.example/", "/web/"},
        // Web share pages of the social services (the desktop stands in for the tablet's kit).
        {"share.facebook_url", "https://www.facebook.com/sharer/sharer.php", nullptr},
        {"share.twitter_url", "https://twitter.com/intent/tweet", nullptr},
        // The player library's own catalog pairs, LiveRail publisher and analytics properties.
        {"player.tablet_consumer_key", "ZRPVPAD-4348D2E8-CC98-4569-90F5-EEC5ACC6279C", nullptr},
        {"player.tablet_secret_key", "9d915b99-a5a6-446d-818d-4bed536e4e17", nullptr},
        {"player.phone_consumer_key", "ZRPVPHONE-7D319B26-4755-4646-9F28-5EA5FE277430", nullptr},
        {"player.phone_secret_key", "65abb60a-eee1-4b26-869f-c9aaa5b2b79a", nullptr},
        {"player.tablet_analytics_account_id", "ZP-40960512-1", nullptr},
        {"player.phone_analytics_account_id", "ZP-40960513-1", nullptr},
        {"liverail.publisher_id", "7314", nullptr},
        {"reachability.probe_url", "https://www.zrp.example/generate_204", "/_sandbox/ping"},
        // The outside facilities started at launch: audience measurement (a 7-digit customer id
        // and a 17-character secret), the rating prompt (store id) and survey invitations (a
        // 24-character Base64-form customer id). "rating.enabled" and "survey.enabled" take
        // "true" or "false"; tests and the tour turn the prompts off.
        {"audience.customer_id", "6042817", nullptr},
        {"audience.secret", "b7Qx2Lm9Rt4Vz8Kp1", nullptr},
        {"audience.beacon_url", "https://beacon.audience-meter.example/b", "/audience/beacon"},
        {"rating.app_id", "583104729", nullptr},
        {"rating.enabled", "true", nullptr},
        {"survey.customer_id", "Zr8pQ+3vT1kW/a9Lm2Xc4N==", nullptr},
        {"survey.base_url", "https://api.survey-invite.example/v2/", "/survey/"},
        {"survey.enabled", "true", nullptr},
    };
    return table;
}

Config& Config::shared()
{
    static Config config;
    return config;
}

Config::Config()
{
    resetToDefaults();
}

void Config::resetToDefaults()
{
    m_values.clear();
    for (const Entry& e : entries())
        m_values[QString::fromLatin1(e.key)] = QString::fromUtf8(e.defaultValue);
    m_sandbox = QUrl();
    m_dataDir.clear();
    m_cacheDir.clear();
}

QString Config::value(const QString& key) const
{
    auto it = m_values.find(key);
    return it == m_values.end() ? QString() : it->second;
}

QUrl Config::url(const QString& key) const
{
    return QUrl(value(key));
}

bool Config::boolValue(const QString& key, bool defaultValue) const
{
    const QString v = value(key).trimmed().toLower();
    if (v == QLatin1String("true") || v == QLatin1String("1") || v == QLatin1String("yes") ||
        v == QLatin1String("on"))
        return true;
    if (v == QLatin1String("false") || v == QLatin1String("0") || v == QLatin1String("no") ||
        v == QLatin1String("off"))
        return false;
    return defaultValue;
}

void Config::setValue(const QString& key, const QString& value)
{
    m_values[key] = value;
}

QStringList Config::keys() const
{
    QStringList out;
    for (const auto& [k, v] : m_values)
        out << k;
    return out;
}

bool Config::loadIni(const QString& path, Error* error)
{
    auto fail = [&](const QString& msg) {
        if (error)
            *error = Error::withMessage(QStringLiteral("ZRPConfigErrorDomain"), 1, msg);
        return false;
    };
    if (!QFile::exists(path))
        return fail(QStringLiteral("The configuration file %1 does not exist.").arg(path));
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return fail(QStringLiteral("The configuration file %1 could not be read.").arg(path));
    std::map<QString, QString> read;
    for (const QString& k : ini.allKeys()) {
        const QString key = QString(k).replace(QLatin1Char('/'), QLatin1Char('.'));
        if (m_values.find(key) == m_values.end())
            return fail(QStringLiteral("Unknown configuration key \"%1\" in %2.").arg(key, path));
        read[key] = ini.value(k).toString();
    }
    for (const auto& [k, v] : read)
        m_values[k] = v;
    return true;
}

void Config::rebindToSandbox(const QUrl& sandbox)
{
    m_sandbox = sandbox;
    QString base = sandbox.toString();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    for (const Entry& e : entries()) {
        if (e.sandboxPath)
            m_values[QString::fromLatin1(e.key)] = base + QString::fromLatin1(e.sandboxPath);
    }
}

// XDG base directories: the variable when set, else its documented default under HOME.
static QString appFolder(const char* xdgVar, const char* fallback)
{
    QString base = qEnvironmentVariable(xdgVar);
    if (base.isEmpty())
        base = QDir::homePath() + QLatin1String(fallback);
    return base + QStringLiteral("/zrp-tablet");
}

QString Config::dataDir() const
{
    return m_dataDir.isEmpty() ? appFolder("XDG_DATA_HOME", "/.local/share") : m_dataDir;
}

QString Config::cacheDir() const
{
    if (!m_cacheDir.isEmpty())
        return m_cacheDir;
    return appFolder("XDG_CACHE_HOME", "/.cache");
}

void Config::setDataDir(const QString& dir)
{
    m_dataDir = QDir(dir).absolutePath();
    m_cacheDir = m_dataDir;
}

QString Config::settingsPath() const
{
    return dataDir() + QStringLiteral("/settings.sqlite");
}

QString Config::httpCacheDir() const
{
    return cacheDir() + QStringLiteral("/http-cache");
}

QString Config::calendarPath() const
{
    return dataDir() + QStringLiteral("/calendar.ics");
}

} // namespace zrp
