#include "Device.h"

#include "BuildInfo.h"
#include "Text.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QNetworkInterface>
#include <QScreen>
#include <QSysInfo>
#include <mutex>
#include <sys/utsname.h>

namespace zrp {
namespace Device {

namespace {

struct Overrides
{
    std::mutex mutex;
    QString platformName;
    int screenWidth = -1;
    bool macOverridden = false;
    std::optional<QString> mac;
};

Overrides& overrides()
{
    static Overrides o;
    return o;
}

QString realMachine()
{
    struct utsname u
    {};
    if (uname(&u) == 0)
        return QString::fromLatin1(u.machine);
    return QSysInfo::currentCpuArchitecture();
}

// The interface that carries the default route, so the identifier follows the machine's
// primary connection rather than whichever interface enumerates first.
QString defaultRouteInterface()
{
    QFile f(QStringLiteral("/proc/net/route"));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    f.readLine(); // header
    while (!f.atEnd()) {
        const QList<QByteArray> cols = f.readLine().simplified().split(' ');
        if (cols.size() > 2 && cols[1] == "00000000")
            return QString::fromLatin1(cols[0]);
    }
    return QString();
}

std::optional<QString> formatHardwareAddress(const QString& qtForm)
{
    const QStringList parts = qtForm.split(QLatin1Char(':'));
    if (parts.size() != 6)
        return std::nullopt;
    QString out;
    bool anyNonZero = false;
    for (const QString& p : parts) {
        bool ok = false;
        const uint b = p.toUInt(&ok, 16);
        if (!ok || b > 255)
            return std::nullopt;
        anyNonZero = anyNonZero || b != 0;
        if (!out.isEmpty())
            out += QLatin1Char(':');
        out += QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    }
    if (!anyNonZero)
        return std::nullopt;
    return out;
}

std::optional<QString> realMacAddress()
{
    const QString preferred = defaultRouteInterface();
    std::optional<QString> fallback;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        if (i.flags().testFlag(QNetworkInterface::IsLoopBack))
            continue;
        auto mac = formatHardwareAddress(i.hardwareAddress());
        if (!mac)
            continue;
        if (i.name() == preferred)
            return mac;
        if (!fallback && i.flags().testFlag(QNetworkInterface::IsUp))
            fallback = mac;
    }
    return fallback;
}

const QHash<QString, QString>& descriptionTable()
{
    static const QHash<QString, QString> table = {
        {"iFPGA", "iFPGA"},
        {"iPhone1,1", "iPhone 1G"},
        {"iPhone1,2", "iPhone 3G"},
        {"iPhone2,1", "iPhone 3GS"},
        {"iPhone3,1", "iPhone 4 (GSM)"},
        {"iPhone3,3", "iPhone 4 (CDMA)"},
        {"iPhone4,1", "iPhone 4S (GSM)"},
        {"iPhone4,3", "iPhone 4S (CDMA)"},
        {"iPod1,1", "iPod touch 1G"},
        {"iPod2,1", "iPod touch 2G"},
        {"iPod3,1", "iPod touch 3G"},
        {"iPod4,1", "iPod touch 4G"},
        {"iPad1,1", "iPad 1G"},
        {"iPad2,1", "iPad 2G (WiFi)"},
        {"iPad2,2", "iPad 2G (3G GSM)"},
        {"iPad2,3", "iPad 2G (3G CDMA)"},
        {"iPad3,1", "iPad 3G (WiFi)"},
        {"iPad3,2", "iPad 3G (4G GSM)"},
        {"iPad3,3", "iPad 3G (4G CDMA)"},
        {"AppleTV2,1", "Apple TV 2G"},
    };
    return table;
}

bool isSimulatorName(const QString& name)
{
    return name.endsWith(QLatin1String("86")) || name == QLatin1String("x86_64");
}

} // namespace

int userInterfaceIdiom()
{
    return IdiomPad;
}

double screenScale()
{
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        if (QScreen* s = app->primaryScreen())
            return s->devicePixelRatio();
    return 1.0;
}

int mainScreenWidthPoints()
{
    {
        std::lock_guard lock(overrides().mutex);
        if (overrides().screenWidth >= 0)
            return overrides().screenWidth;
    }
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        if (QScreen* s = app->primaryScreen())
            return s->geometry().width();
    return 1024; // the window's own width when no screen is known
}

QString systemVersion()
{
    return QSysInfo::productVersion();
}

QString platformName()
{
    {
        std::lock_guard lock(overrides().mutex);
        if (!overrides().platformName.isEmpty())
            return overrides().platformName;
    }
    static const QString machine = realMachine();
    return machine;
}

QString platformDescription()
{
    const QString name = platformName();
    const auto& table = descriptionTable();
    auto it = table.find(name);
    if (it != table.end())
        return it.value();
    if (name.startsWith(QLatin1String("iPhone")))
        return QStringLiteral("Unknown iPhone");
    if (name.startsWith(QLatin1String("iPod")))
        return QStringLiteral("Unknown iPod");
    if (name.startsWith(QLatin1String("iPad")))
        return QStringLiteral("Unknown iPad");
    if (isSimulatorName(name))
        return mainScreenWidthPoints() < 768 ? QStringLiteral("iPhone Simulator")
                                             : QStringLiteral("iPad Simulator");
    return QStringLiteral("Unknown iOS device");
}

int platformType()
{
    const QString n = platformName();
    auto is = [&](const char* s) { return n == QLatin1String(s); };
    auto starts = [&](const char* s) { return n.startsWith(QLatin1String(s)); };
    if (is("iFPGA"))
        return 22;
    if (is("iPhone1,1"))
        return 4;
    if (is("iPhone1,2"))
        return 5;
    if (starts("iPhone2"))
        return 6;
    if (is("iPhone3,1"))
        return 7;
    if (is("iPhone3,3"))
        return 8;
    if (starts("iPhone4"))
        return 9;
    if (is("iPod1,1"))
        return 10;
    if (is("iPod2,1"))
        return 11;
    if (is("iPod3,1"))
        return 12;
    if (is("iPod4,1"))
        return 13;
    if (is("iPad1,1"))
        return 14;
    if (is("iPad2,1"))
        return 15;
    if (is("iPad2,2"))
        return 16;
    if (is("iPad2,3"))
        return 17;
    if (is("AppleTV2,1"))
        return 18;
    if (starts("iPhone"))
        return 19;
    if (starts("iPod"))
        return 20;
    if (starts("iPad"))
        return 21;
    if (isSimulatorName(n))
        return mainScreenWidthPoints() < 768 ? 2 : 3;
    return 0;
}

bool supportsSystemMirroring()
{
    const int t = platformType();
    return t == 9 || t == 15 || t == 16 || t == 17;
}

std::optional<QString> macaddress()
{
    {
        std::lock_guard lock(overrides().mutex);
        if (overrides().macOverridden)
            return overrides().mac;
    }
    static const std::optional<QString> mac = realMacAddress();
    return mac;
}

QString uniqueDeviceIdentifier()
{
    return Text::stringFromMD5(macaddress().value_or(QString()) + Bundle::identifier());
}

QString uniqueGlobalDeviceIdentifier()
{
    return Text::stringFromMD5(macaddress().value_or(QString()));
}

void setPlatformNameForTesting(const QString& name)
{
    std::lock_guard lock(overrides().mutex);
    overrides().platformName = name;
}

void setMainScreenWidthForTesting(int points)
{
    std::lock_guard lock(overrides().mutex);
    overrides().screenWidth = points;
}

void setMacAddressForTesting(const std::optional<QString>& address, bool override)
{
    std::lock_guard lock(overrides().mutex);
    overrides().macOverridden = override;
    overrides().mac = address;
}

} // namespace Device

namespace Bundle {
QString version()
{
    return QStringLiteral(ZRP_BUNDLE_VERSION);
}
QString shortVersion()
{
    return QStringLiteral(ZRP_SHORT_VERSION);
}
QString internalVersion()
{
    return QStringLiteral(ZRP_INTERNAL_VERSION);
}
QString identifier()
{
    return QStringLiteral(ZRP_BUNDLE_IDENTIFIER);
}
QString displayName()
{
    return QStringLiteral(ZRP_DISPLAY_NAME);
}
QString name()
{
    return QStringLiteral("zrp-tablet");
}
} // namespace Bundle

} // namespace zrp
