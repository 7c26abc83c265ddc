#pragma once

#include "core/Error.h"

#include <QCborValue>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace zrp {

class HttpClient;
class HttpTask;
class KeyValueStore;
class Timer;
class AnalyticsTracker;

// Refusals of the analytics tracker, in domain "ZRPAnalyticsErrorDomain".
namespace AnalyticsError {
inline const QString domain = QStringLiteral("ZRPAnalyticsErrorDomain");
enum Code
{
    NotStarted = 1,      // no account yet: start the tracker first
    InvalidArgument = 2, // a bad index, scope, path, category or value
    StoreFailed = 3,     // the hit could not be queued durably; it was not recorded
};
} // namespace AnalyticsError

struct AnalyticsCustomVariable
{
    int index = 0; // 1..5
    QString name;
    QString value;
    int scope = 2; // 1 visitor, 2 session, 3 page

    bool operator==(const AnalyticsCustomVariable&) const = default;
};

// One recorded page view or event, as queued and as sent.
struct AnalyticsHit
{
    qint64 seq = 0;
    QString type; // "pageview" or "event"
    QString account;
    QString path;                    // page views
    QString category, action, label; // events
    qint64 value = -1;               // events; -1 = none
    QList<AnalyticsCustomVariable> customVariables;
    QString referrer;
    QDateTime time; // UTC

    QCborValue toCbor() const;
    static std::optional<AnalyticsHit> fromCbor(const QCborValue& v);
    // The collector's form: "seq", "type", "path" or "category"/"action"/"label"/"value",
    // "custom_variables", "referrer", "time". Absent texts and a value of -1 are null.
    QJsonObject toJson() const;
};

// Told, on the main thread, how dispatches end. Not owned.
class AnalyticsTrackerDelegate
{
public:
    virtual ~AnalyticsTrackerDelegate() = default;
    // A batch was answered (or failed): hits the collector took, hits kept for a later dispatch.
    virtual void trackerDispatchDidComplete(AnalyticsTracker* tracker, int hitsDispatched, int hitsFailed)
    {
        Q_UNUSED(tracker);
        Q_UNUSED(hitsDispatched);
        Q_UNUSED(hitsFailed);
    }
    virtual void hitDispatched(AnalyticsTracker* tracker, const AnalyticsHit& hit)
    {
        Q_UNUSED(tracker);
        Q_UNUSED(hit);
    }
};

// Page views and events, queued durably in the key-value store the moment they are recorded
// (one key per hit) and sent in batches to the collector: periodically on the shared clock, or
// at once when the dispatch period is 0. Nothing queued is lost to a crash or a failed send; a
// full queue drops its oldest hits and counts them.
//
// Custom variables: visitor scope (1) lasts across launches, session scope (2) until the tracker
// stops or restarts, page scope (3) until the next page view has been recorded with it.
//
// Recording works from any thread; starting, stopping and sending happen on the main thread.
class AnalyticsTracker : public QObject
{
    Q_OBJECT
public:
    enum Scope
    {
        ScopeVisitor = 1,
        ScopeSession = 2,
        ScopePage = 3
    };
    static constexpr int kMaxHitsPerBatch = 50;
    static constexpr int kDefaultMaxQueuedHits = 1000;

    // Keys in the store.
    static QString hitKeyPrefix(); // "zrp.analytics.hit."; then the zero-padded sequence number
    static QString hitKey(qint64 seq);

    // Null collaborators are the process's own: KeyValueStore::shared(), HttpClient::shared(),
    // and Config's "analytics.collector_url", looked up when used.
    explicit AnalyticsTracker(KeyValueStore* store = nullptr, HttpClient* http = nullptr,
                              const QUrl& collectorURL = QUrl(), QObject* parent = nullptr);
    ~AnalyticsTracker() override;

    static AnalyticsTracker* sharedInstance();
    // Destroys the shared tracker (it stops); the next sharedInstance() builds a fresh one.
    static void resetSharedInstance();

    void setStore(KeyValueStore* store);
    void setHttpClient(HttpClient* http);
    void setCollectorURL(const QUrl& url);
    KeyValueStore* store() const;
    HttpClient* httpClient() const;
    QUrl collectorURL() const;

    // Starting again restarts: a new session with the new account and period.
    bool startTrackerWithAccountID(const QString& accountId, int dispatchPeriodSeconds,
                                   AnalyticsTrackerDelegate* delegate = nullptr, Error* error = nullptr);
    // Stops sending (an answer still to come is dropped; its hits stay queued) and ends the session.
    void stopTracker();
    bool isStarted() const;
    QString accountID() const;
    int dispatchPeriod() const;

    bool setCustomVariableAtIndex(int index, const QString& name, const QString& value,
                                  int scope = ScopeSession, Error* error = nullptr);
    QList<AnalyticsCustomVariable> customVariables() const; // in force now, by index

    bool trackPageview(const QString& path, Error* error = nullptr);
    bool trackEvent(const QString& category, const QString& action, const QString& label, qint64 value,
                    Error* error = nullptr);
    // Attached to every later hit of the session; empty text clears it.
    bool setReferrer(const QString& referrer, Error* error = nullptr);
    QString referrer() const;

    // Sends everything queued, one batch of at most 50 at a time, until the queue is empty or a
    // batch fails. False when not started, nothing is queued or there is no collector.
    bool dispatch();
    bool isDispatching() const;

    void setMaxQueuedHits(int max);
    int maxQueuedHits() const;
    QList<AnalyticsHit> queuedHits() const; // oldest first, as stored
    int queuedHitCount() const;
    qint64 droppedHitCount() const; // hits dropped from a full queue, ever

private:
    bool record(AnalyticsHit hit, Error* error);
    void ensureLoaded(); // m_mutex held
    void scheduleDispatchSoon();
    void sendNextBatch();
    void batchFinished(quint64 batchId, bool ok, int status, const QString& why);
    void stopLocked();           // m_mutex held
    void saveVisitorVariables(); // m_mutex held

    mutable std::recursive_mutex m_mutex;
    KeyValueStore* m_store = nullptr;
    HttpClient* m_http = nullptr;
    QUrl m_collectorURL;

    bool m_started = false;
    QString m_account;
    int m_period = 0;
    AnalyticsTrackerDelegate* m_delegate = nullptr;
    std::shared_ptr<Timer> m_timer;
    std::map<int, AnalyticsCustomVariable> m_variables; // by index
    QString m_referrer;

    // The queue as stored, mirrored in memory: sequence numbers, oldest first.
    KeyValueStore* m_loadedFrom = nullptr;
    std::deque<qint64> m_queue;
    qint64 m_nextSeq = 1;
    qint64 m_dropped = 0;
    int m_maxQueued = kDefaultMaxQueuedHits;

    bool m_dispatchPosted = false;
    bool m_inFlight = false;
    quint64 m_batchId = 0;
    QList<AnalyticsHit> m_batch;
    QPointer<HttpTask> m_task;
};

} // namespace zrp
