#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the command line asks of zrp-tablet.
struct StartupOptions
{
    QString configFile;               // --config FILE: real deployments
    QString sandboxURL;               // --sandbox URL: an external zrp-sandbox
    QString dataDir;                  // --data-dir DIR: all persisted state
    QStringList links;                // deep links given as arguments
    QString tourDir;                  // --tour DIR: walk the screens, save pictures, print timings, exit
    bool exitAfterFirstFrame = false; // start-up measurement: print the time to the first frame, quit

    enum class Action
    {
        Run,
        PrintVersion,
        PrintHelp,
        Fail
    };
    Action action = Action::Run;
    QString error;

    // Parsed without a GUI application so that --help and --version work with no display.
    static StartupOptions parse(const QStringList& arguments);
    static QString helpText();
    static QString versionText();
};
