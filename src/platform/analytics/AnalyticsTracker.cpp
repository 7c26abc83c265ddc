#include "AnalyticsTracker.h"

#include "core/Clock.h"
#include "core/Config.h"
#include "core/RunLoop.h"
#include "net/HttpClient.h"
#include "store/KeyValueStore.h"

#include <QCborArray>
#include <QCborMap>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

namespace zrp {

namespace {
const QString kNextSeqKey = QStringLiteral("zrp.analytics.next_seq");
const QString kDroppedKey = QStringLiteral("zrp.analytics.dropped_hits");
const QString kVisitorVariablesKey = QStringLiteral("zrp.analytics.visitor_variables");
constexpr int kSeqDigits = 12;
constexpr int kMaxCustomVariableIndex = 5;
// A collector that does not answer must not hold the queue back for long.
constexpr int kSendTimeoutMs = 30000;

bool fail(Error* error, int code, const QString& message)
{
    if (error)
        *error = Error::withMessage(AnalyticsError::domain, code, message);
    return false;
}

QJsonValue textOrNull(const QString& s)
{
    return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

QCborValue variablesToCbor(const QList<AnalyticsCustomVariable>& vars)
{
    QCborArray a;
    for (const AnalyticsCustomVariable& v : vars)
        a.append(QCborMap{{QStringLiteral("index"), v.index},
                          {QStringLiteral("name"), v.name},
                          {QStringLiteral("value"), v.value},
                          {QStringLiteral("scope"), v.scope}});
    return a;
}

QList<AnalyticsCustomVariable> variablesFromCbor(const QCborValue& v)
{
    QList<AnalyticsCustomVariable> out;
    for (const QCborValue& e : v.toArray()) {
        const QCborMap m = e.toMap();
        AnalyticsCustomVariable var;
        var.index = int(m.value(QStringLiteral("index")).toInteger());
        var.name = m.value(QStringLiteral("name")).toString();
        var.value = m.value(QStringLiteral("value")).toString();
        var.scope = int(m.value(QStringLiteral("scope")).toInteger());
        if (var.index >= 1 && var.index <= kMaxCustomVariableIndex)
            out.append(var);
    }
    return out;
}

std::mutex g_sharedMutex;
AnalyticsTracker* g_shared = nullptr;
} // namespace

// ---- hits ----

QCborValue AnalyticsHit::toCbor() const
{
    QCborMap m{{QStringLiteral("seq"), seq},
               {QStringLiteral("type"), type},
               {QStringLiteral("account"), account},
               {QStringLiteral("custom_variables"), variablesToCbor(customVariables)},
               {QStringLiteral("time"), QCborValue(time.toUTC())}};
    if (type == QLatin1String("pageview")) {
        m.insert(QStringLiteral("path"), path);
    } else {
        m.insert(QStringLiteral("category"), category);
        m.insert(QStringLiteral("action"), action);
        m.insert(QStringLiteral("label"), label);
        m.insert(QStringLiteral("value"), value);
    }
    if (!referrer.isEmpty())
        m.insert(QStringLiteral("referrer"), referrer);
    return m;
}

std::optional<AnalyticsHit> AnalyticsHit::fromCbor(const QCborValue& v)
{
    if (!v.isMap())
        return std::nullopt;
    const QCborMap m = v.toMap();
    AnalyticsHit h;
    h.type = m.value(QStringLiteral("type")).toString();
    h.seq = m.value(QStringLiteral("seq")).toInteger(-1);
    h.account = m.value(QStringLiteral("account")).toString();
    if (h.seq < 1 || h.account.isEmpty() || !m.value(QStringLiteral("time")).isDateTime())
        return std::nullopt;
    h.time = m.value(QStringLiteral("time")).toDateTime().toUTC();
    if (h.type == QLatin1String("pageview")) {
        h.path = m.value(QStringLiteral("path")).toString();
    } else if (h.type == QLatin1String("event")) {
        h.category = m.value(QStringLiteral("category")).toString();
        h.action = m.value(QStringLiteral("action")).toString();
        h.label = m.value(QStringLiteral("label")).toString();
        h.value = m.value(QStringLiteral("value")).toInteger(-1);
    } else {
        return std::nullopt;
    }
    h.customVariables = variablesFromCbor(m.value(QStringLiteral("custom_variables")));
    h.referrer = m.value(QStringLiteral("referrer")).toString();
    return h;
}

QJsonObject AnalyticsHit::toJson() const
{
    QJsonObject o{{QStringLiteral("seq"), seq}, {QStringLiteral("type"), type}};
    if (type == QLatin1String("pageview")) {
        o.insert(QStringLiteral("path"), path);
    } else {
        o.insert(QStringLiteral("category"), category);
        o.insert(QStringLiteral("action"), action);
        o.insert(QStringLiteral("label"), textOrNull(label));
        o.insert(QStringLiteral("value"), value == -1 ? QJsonValue(QJsonValue::Null) : QJsonValue(value));
    }
    QJsonArray vars;
    for (const AnalyticsCustomVariable& v : customVariables)
        vars.append(QJsonObject{{QStringLiteral("index"), v.index},
                                {QStringLiteral("name"), v.name},
                                {QStringLiteral("value"), v.value},
                                {QStringLiteral("scope"), v.scope}});
    o.insert(QStringLiteral("custom_variables"), vars);
    o.insert(QStringLiteral("referrer"), textOrNull(referrer));
    o.insert(QStringLiteral("time"), time.toUTC().toString(Qt::ISODateWithMs));
    return o;
}

// ---- tracker ----

QString AnalyticsTracker::hitKeyPrefix()
{
    return QStringLiteral("zrp.analytics.hit.");
}

QString AnalyticsTracker::hitKey(qint64 seq)
{
    return hitKeyPrefix() + QStringLiteral("%1").arg(seq, kSeqDigits, 10, QLatin1Char('0'));
}

AnalyticsTracker::AnalyticsTracker(KeyValueStore* store, HttpClient* http, const QUrl& collectorURL,
                                   QObject* parent)
    : QObject(parent), m_store(store), m_http(http), m_collectorURL(collectorURL)
{}

AnalyticsTracker::~AnalyticsTracker()
{
    std::lock_guard lock(m_mutex);
    stopLocked();
}

AnalyticsTracker* AnalyticsTracker::sharedInstance()
{
    std::lock_guard lock(g_sharedMutex);
    if (!g_shared) {
        g_shared = new AnalyticsTracker();
        // Events may be recorded first from a background thread; timers and posted sends still
        // belong to the main loop.
        if (QCoreApplication* app = QCoreApplication::instance())
            g_shared->moveToThread(app->thread());
    }
    return g_shared;
}

void AnalyticsTracker::resetSharedInstance()
{
    std::lock_guard lock(g_sharedMutex);
    delete g_shared;
    g_shared = nullptr;
}

void AnalyticsTracker::setStore(KeyValueStore* store)
{
    std::lock_guard lock(m_mutex);
    m_store = store;
}

void AnalyticsTracker::setHttpClient(HttpClient* http)
{
    std::lock_guard lock(m_mutex);
    m_http = http;
}

void AnalyticsTracker::setCollectorURL(const QUrl& url)
{
    std::lock_guard lock(m_mutex);
    m_collectorURL = url;
}

KeyValueStore* AnalyticsTracker::store() const
{
    std::lock_guard lock(m_mutex);
    return m_store ? m_store : KeyValueStore::shared();
}

HttpClient* AnalyticsTracker::httpClient() const
{
    std::lock_guard lock(m_mutex);
    return m_http ? m_http : &HttpClient::shared();
}

QUrl AnalyticsTracker::collectorURL() const
{
    std::lock_guard lock(m_mutex);
    return m_collectorURL.isEmpty() ? Config::shared().url(QStringLiteral("analytics.collector_url"))
                                    : m_collectorURL;
}

// The queue, the sequence counter, the dropped count and the visitor variables come from the
// store the first time it is used (and again if the store was swapped).
void AnalyticsTracker::ensureLoaded()
{
    KeyValueStore* kv = store();
    if (m_loadedFrom == kv)
        return;
    m_loadedFrom = kv;
    m_queue.clear();
    const QString prefix = hitKeyPrefix();
    for (const QString& key : kv->keys(prefix)) {
        bool ok = false;
        const qint64 seq = QStringView(key).mid(prefix.size()).toLongLong(&ok);
        if (ok && seq > 0)
            m_queue.push_back(seq);
    }
    m_nextSeq = std::max<qint64>(1, kv->value(kNextSeqKey).value_or(QCborValue(1)).toInteger(1));
    if (!m_queue.empty())
        m_nextSeq = std::max(m_nextSeq, m_queue.back() + 1);
    m_dropped = kv->value(kDroppedKey).value_or(QCborValue(0)).toInteger(0);

    for (auto it = m_variables.begin(); it != m_variables.end();) {
        if (it->second.scope == ScopeVisitor)
            it = m_variables.erase(it);
        else
            ++it;
    }
    for (const AnalyticsCustomVariable& v :
         variablesFromCbor(kv->value(kVisitorVariablesKey).value_or(QCborValue())))
        if (v.scope == ScopeVisitor && !m_variables.count(v.index))
            m_variables[v.index] = v;
}

void AnalyticsTracker::saveVisitorVariables()
{
    QList<AnalyticsCustomVariable> visitor;
    for (const auto& [index, v] : m_variables)
        if (v.scope == ScopeVisitor)
            visitor.append(v);
    Error error;
    if (!store()->setValue(kVisitorVariablesKey, variablesToCbor(visitor), &error))
        qWarning("Analytics: visitor variables not saved: %s", qPrintable(error.description()));
}

bool AnalyticsTracker::startTrackerWithAccountID(const QString& accountId, int dispatchPeriodSeconds,
                                                 AnalyticsTrackerDelegate* delegate, Error* error)
{
    if (accountId.trimmed().isEmpty())
        return fail(error, AnalyticsError::InvalidArgument, QStringLiteral("An account id is needed."));
    if (dispatchPeriodSeconds < 0)
        return fail(
            error, AnalyticsError::InvalidArgument,
            QStringLiteral("The dispatch period may not be negative (%1).").arg(dispatchPeriodSeconds));
    bool sendNow = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_started)
            stopLocked();
        ensureLoaded();
        m_started = true;
        m_account = accountId;
        m_period = dispatchPeriodSeconds;
        m_delegate = delegate;
        if (m_period > 0)
            m_timer = Clock::shared()->schedule(
                qint64(m_period) * 1000, true, [this] { dispatch(); }, this);
        else
            sendNow = !m_queue.empty(); // what an earlier run left behind
    }
    if (sendNow)
        scheduleDispatchSoon();
    return true;
}

void AnalyticsTracker::stopTracker()
{
    std::lock_guard lock(m_mutex);
    stopLocked();
}

void AnalyticsTracker::stopLocked()
{
    if (m_timer) {
        m_timer->invalidate();
        m_timer.reset();
    }
    // A cancelled task never calls back; its hits simply stay queued.
    if (m_task)
        m_task->cancel();
    m_task = nullptr;
    m_inFlight = false;
    m_batch.clear();
    ++m_batchId;
    m_started = false;
    m_account.clear();
    m_delegate = nullptr;
    m_referrer.clear();
    for (auto it = m_variables.begin(); it != m_variables.end();) {
        if (it->second.scope != ScopeVisitor)
            it = m_variables.erase(it);
        else
            ++it;
    }
}

bool AnalyticsTracker::isStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_started;
}

QString AnalyticsTracker::accountID() const
{
    std::lock_guard lock(m_mutex);
    return m_account;
}

int AnalyticsTracker::dispatchPeriod() const
{
    std::lock_guard lock(m_mutex);
    return m_period;
}

bool AnalyticsTracker::setCustomVariableAtIndex(int index, const QString& name, const QString& value,
                                                int scope, Error* error)
{
    if (index < 1 || index > kMaxCustomVariableIndex)
        return fail(error, AnalyticsError::InvalidArgument,
                    QStringLiteral("Custom variable index %1 is outside 1-%2.")
                        .arg(index)
                        .arg(kMaxCustomVariableIndex));
    if (scope < ScopeVisitor || scope > ScopePage)
        return fail(error, AnalyticsError::InvalidArgument,
                    QStringLiteral("Unknown custom variable scope %1.").arg(scope));
    if (name.isEmpty())
        return fail(error, AnalyticsError::InvalidArgument,
                    QStringLiteral("A custom variable needs a name."));
    std::lock_guard lock(m_mutex);
    ensureLoaded();
    const auto old = m_variables.find(index);
    const bool visitorTouched =
        scope == ScopeVisitor || (old != m_variables.end() && old->second.scope == ScopeVisitor);
    m_variables[index] = AnalyticsCustomVariable{index, name, value, scope};
    if (visitorTouched)
        saveVisitorVariables();
    return true;
}

QList<AnalyticsCustomVariable> AnalyticsTracker::customVariables() const
{
    std::lock_guard lock(m_mutex);
    const_cast<AnalyticsTracker*>(this)->ensureLoaded(); // the visitor's variables of earlier launches
    QList<AnalyticsCustomVariable> out;
    for (const auto& [index, v] : m_variables)
        out.append(v);
    return out;
}

bool AnalyticsTracker::trackPageview(const QString& path, Error* error)
{
    if (!path.startsWith(QLatin1Char('/')))
        return fail(error, AnalyticsError::InvalidArgument,
                    QStringLiteral("A page view path must begin with \"/\": \"%1\".").arg(path));
    AnalyticsHit hit;
    hit.type = QStringLiteral("pageview");
    hit.path = path;
    return record(std::move(hit), error);
}

bool AnalyticsTracker::trackEvent(const QString& category, const QString& action, const QString& label,
                                  qint64 value, Error* error)
{
    if (category.isEmpty() || action.isEmpty())
        return fail(error, AnalyticsError::InvalidArgument,
                    QStringLiteral("An event needs a category and an action."));
    if (value < -1)
        return fail(error, AnalyticsError::InvalidArgument,
                    QStringLiteral("An event value is -1 (none) or more, not %1.").arg(value));
    AnalyticsHit hit;
    hit.type = QStringLiteral("event");
    hit.category = category;
    hit.action = action;
    hit.label = label;
    hit.value = value;
    return record(std::move(hit), error);
}

bool AnalyticsTracker::setReferrer(const QString& referrer, Error* error)
{
    Q_UNUSED(error);
    std::lock_guard lock(m_mutex);
    m_referrer = referrer;
    return true;
}

QString AnalyticsTracker::referrer() const
{
    std::lock_guard lock(m_mutex);
    return m_referrer;
}

// The hit is in the store, with the counters that go with it, in one transaction before
// anything else happens to it.
bool AnalyticsTracker::record(AnalyticsHit hit, Error* error)
{
    bool sendNow = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_started)
            return fail(error, AnalyticsError::NotStarted,
                        QStringLiteral("The analytics tracker is not started."));
        ensureLoaded();
        hit.seq = m_nextSeq;
        hit.account = m_account;
        hit.referrer = m_referrer;
        hit.time = Clock::shared()->now().toUTC();
        for (const auto& [index, v] : m_variables)
            hit.customVariables.append(v);

        QList<std::pair<QString, QCborValue>> writes{{hitKey(hit.seq), hit.toCbor()},
                                                     {kNextSeqKey, hit.seq + 1}};
        // Room for the new hit: the oldest go first.
        const qint64 overflow = qint64(m_queue.size()) + 1 - m_maxQueued;
        for (qint64 i = 0; i < overflow; ++i)
            writes.append({hitKey(m_queue[size_t(i)]), QCborValue()});
        if (overflow > 0)
            writes.append({kDroppedKey, m_dropped + overflow});

        Error storeError;
        if (!store()->setValues(writes, &storeError)) {
            qWarning("Analytics: hit not recorded: %s", qPrintable(storeError.description()));
            return fail(error, AnalyticsError::StoreFailed,
                        QStringLiteral("The hit could not be queued: %1").arg(storeError.message()));
        }
        for (qint64 i = 0; i < overflow; ++i)
            m_queue.pop_front();
        if (overflow > 0)
            m_dropped += overflow;
        m_queue.push_back(hit.seq);
        m_nextSeq = hit.seq + 1;
        if (hit.type == QLatin1String("pageview")) {
            for (auto it = m_variables.begin(); it != m_variables.end();) {
                if (it->second.scope == ScopePage)
                    it = m_variables.erase(it);
                else
                    ++it;
            }
        }
        sendNow = m_period == 0;
    }
    if (sendNow)
        scheduleDispatchSoon();
    return true;
}

// Hits recorded in one turn of the main loop leave together.
void AnalyticsTracker::scheduleDispatchSoon()
{
    std::lock_guard lock(m_mutex);
    if (m_dispatchPosted)
        return;
    m_dispatchPosted = true;
    RunLoop::post(
        [this] {
            {
                std::lock_guard lock(m_mutex);
                m_dispatchPosted = false;
            }
            dispatch();
        },
        this);
}

bool AnalyticsTracker::dispatch()
{
    std::unique_lock lock(m_mutex);
    if (!m_started)
        return false;
    if (m_inFlight)
        return true; // the batch under way goes on with the rest when it succeeds
    ensureLoaded();
    if (m_queue.empty() || !collectorURL().isValid() || collectorURL().isEmpty())
        return false;
    lock.unlock();
    if (!RunLoop::isMainThread()) {
        RunLoop::post([this] { dispatch(); }, this);
        return true;
    }
    sendNextBatch();
    return true;
}

void AnalyticsTracker::sendNextBatch()
{
    std::unique_lock lock(m_mutex);
    if (!m_started || m_inFlight)
        return;
    ensureLoaded();
    KeyValueStore* kv = store();

    // Hits that no longer decode cannot be sent; they leave the queue as dropped.
    QList<AnalyticsHit> batch;
    QStringList unreadable;
    for (size_t i = 0; i < m_queue.size() && batch.size() < kMaxHitsPerBatch; ++i) {
        const qint64 seq = m_queue[i];
        std::optional<AnalyticsHit> hit =
            AnalyticsHit::fromCbor(kv->value(hitKey(seq)).value_or(QCborValue()));
        if (!hit) {
            unreadable << hitKey(seq);
            continue;
        }
        // One account per request: a later account's hits wait for the next batch.
        if (!batch.isEmpty() && hit->account != batch.first().account)
            break;
        hit->seq = seq;
        batch.append(*hit);
    }
    if (!unreadable.isEmpty()) {
        QList<std::pair<QString, QCborValue>> writes;
        for (const QString& key : unreadable)
            writes.append({key, QCborValue()});
        writes.append({kDroppedKey, m_dropped + unreadable.size()});
        if (kv->setValues(writes)) {
            m_dropped += unreadable.size();
            std::erase_if(m_queue, [&](qint64 seq) { return unreadable.contains(hitKey(seq)); });
        }
        qWarning("Analytics: %lld unreadable queued hits dropped", qint64(unreadable.size()));
    }
    if (batch.isEmpty())
        return;

    QJsonArray hits;
    for (const AnalyticsHit& h : batch)
        hits.append(h.toJson());
    HttpRequest request(collectorURL());
    request.method = "POST";
    request.setHeader("Content-Type", "application/json");
    request.body = QJsonDocument(QJsonObject{{QStringLiteral("account"), batch.first().account},
                                             {QStringLiteral("hits"), hits}})
                       .toJson(QJsonDocument::Compact);
    request.timeoutMs = kSendTimeoutMs;

    m_inFlight = true;
    m_batch = batch;
    const quint64 batchId = ++m_batchId;
    HttpClient* http = httpClient();
    lock.unlock();

    HttpTask* task = http->send(request, [this, batchId](const HttpResponse& response, const Error& error) {
        const bool ok = error.isNull() && response.status >= 200 && response.status < 300;
        batchFinished(batchId, ok, response.status, error ? error.description() : QString());
    });
    lock.lock();
    if (m_inFlight && m_batchId == batchId)
        m_task = task;
}

void AnalyticsTracker::batchFinished(quint64 batchId, bool ok, int status, const QString& why)
{
    QList<AnalyticsHit> batch;
    AnalyticsTrackerDelegate* delegate = nullptr;
    bool more = false;
    {
        std::lock_guard lock(m_mutex);
        if (batchId != m_batchId || !m_inFlight)
            return; // stopped or restarted meanwhile
        m_inFlight = false;
        m_task = nullptr;
        batch = std::move(m_batch);
        m_batch.clear();
        delegate = m_delegate;
        if (ok) {
            // Exactly the hits that were sent; any recorded meanwhile stay.
            QStringList keys;
            for (const AnalyticsHit& h : batch)
                keys << hitKey(h.seq);
            Error error;
            if (!store()->remove(keys, &error))
                qWarning("Analytics: sent hits could not be removed and will be sent again: %s",
                         qPrintable(error.description()));
            else
                std::erase_if(m_queue, [&](qint64 seq) { return keys.contains(hitKey(seq)); });
            more = !m_queue.empty();
        } else {
            qWarning("Analytics: %lld hits kept for the next dispatch (status %d%s%s)", qint64(batch.size()),
                     status, why.isEmpty() ? "" : ", ", qPrintable(why));
        }
    }
    if (delegate) {
        if (ok)
            for (const AnalyticsHit& h : batch)
                delegate->hitDispatched(this, h);
        delegate->trackerDispatchDidComplete(this, ok ? int(batch.size()) : 0, ok ? 0 : int(batch.size()));
    }
    if (more)
        sendNextBatch();
}

bool AnalyticsTracker::isDispatching() const
{
    std::lock_guard lock(m_mutex);
    return m_inFlight;
}

void AnalyticsTracker::setMaxQueuedHits(int max)
{
    std::lock_guard lock(m_mutex);
    m_maxQueued = std::max(1, max);
}

int AnalyticsTracker::maxQueuedHits() const
{
    std::lock_guard lock(m_mutex);
    return m_maxQueued;
}

QList<AnalyticsHit> AnalyticsTracker::queuedHits() const
{
    std::lock_guard lock(m_mutex);
    const_cast<AnalyticsTracker*>(this)->ensureLoaded();
    QList<AnalyticsHit> out;
    KeyValueStore* kv = store();
    for (qint64 seq : m_queue) {
        if (std::optional<AnalyticsHit> h =
                AnalyticsHit::fromCbor(kv->value(hitKey(seq)).value_or(QCborValue()))) {
            h->seq = seq;
            out.append(*h);
        }
    }
    return out;
}

int AnalyticsTracker::queuedHitCount() const
{
    std::lock_guard lock(m_mutex);
    const_cast<AnalyticsTracker*>(this)->ensureLoaded();
    return int(m_queue.size());
}

qint64 AnalyticsTracker::droppedHitCount() const
{
    std::lock_guard lock(m_mutex);
    const_cast<AnalyticsTracker*>(this)->ensureLoaded();
    return m_dropped;
}

} // namespace zrp
