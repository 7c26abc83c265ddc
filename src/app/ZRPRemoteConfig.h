#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QUrl>

namespace zrp {
class HttpTask;
}

// The configuration file the network publishes: three background timings kept between
// launches, and a minimum version that asks the viewer to update.
class ZRPRemoteConfig : public QObject
{
    Q_OBJECT
public:
    static ZRPRemoteConfig* sharedInstance();
    static void resetSharedInstance(); // tests

    void loadSettings();
    bool isLoading() const { return !m_task.isNull(); }

    qint32 backgroundFastTime() const { return m_backgroundFastTime; }
    qint32 backgroundSplashTime() const { return m_backgroundSplashTime; }
    qint32 backgroundRefreshTime() const { return m_backgroundRefreshTime; }
    void saveValuesToUserDefaults();

    // Applies a received file (what the end of a download does).
    void readData(const QByteArray& data);

    // A leading decimal integer: blanks skipped, an optional sign, digits up to the first other
    // character; none gives 0. Clamped to 32 bits.
    static qint32 leadingInteger(const QString& text);

signals:
    void settingsApplied();
    void updateOffered(); // the "New Version Available" alert went up

private:
    ZRPRemoteConfig();
    void checkMinimumVersion(const QString& minimum);
    void openStorePage();

    qint32 m_backgroundFastTime = 60;
    qint32 m_backgroundSplashTime = 180;
    qint32 m_backgroundRefreshTime = 108000;
    QByteArray m_receivedData;
    QPointer<zrp::HttpTask> m_task;
};
