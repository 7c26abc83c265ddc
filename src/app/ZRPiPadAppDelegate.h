#pragma once

#include "catalog/VEXOClientAPI.h"
#include "push/PushRegistrar.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QWidget;

// The application delegate: configures the process-wide facilities at launch, installs the hub
// as the window's root and hands platform events on to the hub and the stores.
class ZRPiPadAppDelegate : public QObject, public VEXOClientAPIDelegate, public zrp::PushRegistrarDelegate
{
    Q_OBJECT
public:
    explicit ZRPiPadAppDelegate(QObject* parent = nullptr);
    ~ZRPiPadAppDelegate() override;

    static ZRPiPadAppDelegate* sharedInstance(); // the one made at start-up, if any

    // The launch sequence; returns true. The window is the hub's view.
    bool didFinishLaunchingWithOptions();
    QWidget* window() const { return m_window; }

    double videoAdsThreshold() const { return m_videoAdsThreshold; }

    // The platform's application states. Here: a minimised or hidden window is the background;
    // shown again, the application returns to the foreground; quitting terminates it.
    enum class State
    {
        Active,
        Inactive,
        Background
    };
    State applicationState() const { return m_state; }
    void setApplicationState(State state) { m_state = state; }
    void applicationDidBecomeActive();
    void applicationDidEnterBackground();
    void applicationWillEnterForeground();
    void applicationWillTerminate();
    QDateTime enteredBackgroundDate() const { return m_enteredBackgroundDate; }
    // Rebuilds the whole interface while the process lives on.
    void resetViews();

    // A link scheme://KIND/ID?QUERY: "video" and "program" open that page after a catalog
    // look-up; anything else is an error alert. Returns false for a missing link.
    bool handleOpenURL(const QString& link);
    bool isLookingUp() const { return m_vexoAPI != nullptr; }

    // The split of a link's query: later keys win; a piece without "=" is a key with an empty
    // value; text that does not unescape to UTF-8 becomes empty.
    static QMap<QString, QString> parseQuery(const QString& query);

    void didFindResults(const QString& requestId, const VEXOResults& results) override;
    void didFail(const QString& requestId, const zrp::Error& error) override;

    // The push service's answers.
    void didRegisterForRemoteNotificationsWithDeviceToken(const QByteArray& deviceToken) override;
    void didFailToRegisterForRemoteNotificationsWithError(const zrp::Error& error) override;
    void didReceiveRemoteNotification(const QVariantMap& payload) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void installHubView();
    void startOutsideFacilities();
    void endLookUp();
    static void showLinkAlert(const QString& message);
    QPointer<QWidget> m_window;
    VEXOClientAPI* m_vexoAPI = nullptr;
    double m_videoAdsThreshold = 0;
    State m_state = State::Active;
    QDateTime m_enteredBackgroundDate;
};
