#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <optional>

namespace zrp {

class KeyValueStore;
class Reachability;
namespace ui {
class AlertView;
}

// Asks the viewer, now and then, to rate the application in the store.
//
// Every launch and every return to the foreground counts a use; the application reports
// significant events itself. The prompt is due when the viewer has not declined it, has not rated
// this version, the first use lies at least daysUntilPrompt days back, at least usesUntilPrompt
// uses and significantEventsUntilPrompt events were counted, and either no reminder was asked for
// or timeBeforeReminding days have passed since. A call with permission to prompt shows the
// alert, when due, on the next turn of the run loop and only while the network can be reached;
// one prompt at a time.
//
// The state lives in the settings store under "zrp.rating.". First use, counts and reminder
// belong to one application version and start again on a new one; a rating is remembered for
// the version rated; "No, Thanks" is remembered for good. Config "rating.enabled" set false
// turns all of it off: nothing is counted and nothing is shown.
class RatingPrompt : public QObject
{
    Q_OBJECT
public:
    static QString alertTitle();   // "Rate ZRP"
    static QString alertMessage(); // "If you enjoy using ZRP, would you mind ..."
    enum Button
    {
        ButtonNoThanks = 0, // the cancel button
        ButtonRate = 1,
        ButtonRemindLater = 2
    };

    // Null collaborators are the process's own: KeyValueStore::shared(), Reachability::shared().
    explicit RatingPrompt(KeyValueStore* store = nullptr, Reachability* reachability = nullptr,
                          QObject* parent = nullptr);
    ~RatingPrompt() override;

    static RatingPrompt* sharedInstance();
    // Destroys the shared prompt (and its alert); the next sharedInstance() builds a fresh one.
    static void resetSharedInstance();

    void setStore(KeyValueStore* store);
    KeyValueStore* store() const;
    void setReachability(Reachability* reachability);
    Reachability* reachability() const;
    // The version whose uses are counted; Bundle::version() unless set.
    void setApplicationVersion(const QString& version);
    QString applicationVersion() const;

    void setAppId(const QString& appId);
    QString appId() const { return m_appId; }
    void setDaysUntilPrompt(double days) { m_daysUntilPrompt = days; }
    double daysUntilPrompt() const { return m_daysUntilPrompt; }
    void setUsesUntilPrompt(int uses) { m_usesUntilPrompt = uses; }
    int usesUntilPrompt() const { return m_usesUntilPrompt; }
    void setTimeBeforeReminding(double days) { m_timeBeforeReminding = days; }
    double timeBeforeReminding() const { return m_timeBeforeReminding; }
    void setSignificantEventsUntilPrompt(int events) { m_eventsUntilPrompt = events; }
    int significantEventsUntilPrompt() const { return m_eventsUntilPrompt; }

    // Each counts a use.
    void appLaunched(bool canPrompt);
    void appEnteredForeground(bool canPrompt);
    void userDidSignificantEvent(bool canPrompt);

    bool isEnabled() const; // Config "rating.enabled"
    bool ratingConditionsHaveBeenMet() const;
    // Config "store.app_url" with the store id and the review action in its query.
    QUrl storePageURL() const;
    // The prompt on screen, or null.
    ui::AlertView* alert() const;

    // The stored state, as the due rule reads it.
    int useCount() const;
    int significantEventCount() const;
    std::optional<QDateTime> firstUseDate() const;
    std::optional<QDateTime> reminderRequestDate() const;
    bool hasDeclined() const;
    bool hasRatedCurrentVersion() const;

private:
    void count(const QString& key);
    void promptIfDue(bool canPrompt);
    void showPrompt();
    void answer(int index);
    int intValue(const QString& key) const;
    std::optional<QDateTime> dateValue(const QString& key) const;

    KeyValueStore* m_store = nullptr;
    QPointer<Reachability> m_reachability;
    bool m_ownReachability = true;
    QString m_version;

    QString m_appId;
    double m_daysUntilPrompt = 30;
    int m_usesUntilPrompt = 20;
    double m_timeBeforeReminding = 1;
    int m_eventsUntilPrompt = 0;

    bool m_showPending = false;
    QPointer<ui::AlertView> m_alert;
};

} // namespace zrp
