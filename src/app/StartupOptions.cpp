#include "StartupOptions.h"

#include "core/Device.h"

StartupOptions StartupOptions::parse(const QStringList& arguments)
{
    StartupOptions o;
    auto fail = [&](const QString& message) {
        o.action = Action::Fail;
        o.error = message;
        return o;
    };
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        auto takeValue = [&](QString* into) {
            if (i + 1 >= arguments.size() || arguments[i + 1].startsWith(QLatin1String("--")))
                return false;
            *into = arguments[++i];
            return true;
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.action = Action::PrintHelp;
            return o;
        }
        if (a == QLatin1String("--version") || a == QLatin1String("-v")) {
            o.action = Action::PrintVersion;
            return o;
        }
        if (a == QLatin1String("--config")) {
            if (!takeValue(&o.configFile))
                return fail(QStringLiteral("--config needs a file name."));
        } else if (a == QLatin1String("--sandbox")) {
            if (!takeValue(&o.sandboxURL))
                return fail(QStringLiteral("--sandbox needs the URL of a running zrp-sandbox."));
        } else if (a == QLatin1String("--data-dir")) {
            if (!takeValue(&o.dataDir))
                return fail(QStringLiteral("--data-dir needs a folder."));
        } else if (a == QLatin1String("--tour")) {
            if (!takeValue(&o.tourDir))
                return fail(QStringLiteral("--tour needs a folder for the screenshots."));
        } else if (a == QLatin1String("--exit-after-first-frame")) {
            o.exitAfterFirstFrame = true;
        } else if (a.startsWith(QLatin1String("-")) && !a.contains(QLatin1String("://"))) {
            // Qt's own options (-platform, -style, ...) pass through to the application object.
            if (a.startsWith(QLatin1String("--")))
                return fail(QStringLiteral("Unknown option %1. Try --help.").arg(a));
        } else if (a.contains(QLatin1String("://"))) {
            o.links << a;
        }
    }
    if (!o.configFile.isEmpty() && !o.sandboxURL.isEmpty())
        return fail(QStringLiteral("--config and --sandbox cannot be used together."));
    return o;
}

QString StartupOptions::versionText()
{
    QString v = QStringLiteral("%1 %2").arg(zrp::Bundle::name(), zrp::Bundle::version());
    if (!zrp::Bundle::internalVersion().isEmpty())
        v += QStringLiteral(" (%1)").arg(zrp::Bundle::internalVersion());
    return v;
}

QString StartupOptions::helpText()
{
    return QStringLiteral(
        "Usage: zrp-tablet [options] [link]\n"
        "The tablet client of the ZRP television network.\n"
        "\n"
        "With no options it starts the embedded network on a free loopback port and uses it\n"
        "for every service, so the whole product works out of the box.\n"
        "\n"
        "Options:\n"
        "  --config FILE      use the services named in an INI configuration file\n"
        "  --sandbox URL      use an external zrp-sandbox at URL instead of the embedded one\n"
        "  --data-dir DIR     keep settings, cache and calendar under DIR\n"
        "  --tour DIR         walk the screens, save a picture of each into DIR, print how long\n"
        "                     each took to complete, and exit\n"
        "  --version, -v      print the version and exit\n"
        "  --help, -h         print this help and exit\n"
        "\n"
        "A link such as zrptv://video/ID or zrptv://program/SLUG opens that video or program.\n");
}
