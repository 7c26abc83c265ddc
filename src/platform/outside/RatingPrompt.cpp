#include "RatingPrompt.h"

#include "core/Clock.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/RunLoop.h"
#include "net/Reachability.h"
#include "store/KeyValueStore.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"

#include <QUrlQuery>
#include <memory>

namespace zrp {

namespace {

// Keys in the settings store.
const QString kVersion = QStringLiteral("zrp.rating.version"); // the version being counted
const QString kFirstUse = QStringLiteral("zrp.rating.firstUseDate");
const QString kUses = QStringLiteral("zrp.rating.useCount");
const QString kEvents = QStringLiteral("zrp.rating.significantEventCount");
const QString kReminder = QStringLiteral("zrp.rating.reminderRequestDate");
const QString kDeclined = QStringLiteral("zrp.rating.declined");
const QString kRatedVersion = QStringLiteral("zrp.rating.ratedVersion");

constexpr qint64 kSecondsPerDay = 24 * 60 * 60;

std::unique_ptr<RatingPrompt>& sharedPrompt()
{
    static std::unique_ptr<RatingPrompt> prompt;
    return prompt;
}

} // namespace

QString RatingPrompt::alertTitle()
{
    return QStringLiteral("Rate ZRP");
}

QString RatingPrompt::alertMessage()
{
    return QStringLiteral("If you enjoy using ZRP, would you mind taking a moment to rate it? It won't take "
                          "more than a minute. Thanks for your support!");
}

RatingPrompt::RatingPrompt(KeyValueStore* store, Reachability* reachability, QObject* parent)
    : QObject(parent), m_store(store)
{
    setReachability(reachability);
}

RatingPrompt::~RatingPrompt()
{
    // A prompt left on screen would answer into a destroyed object.
    if (m_alert)
        delete m_alert.data();
}

RatingPrompt* RatingPrompt::sharedInstance()
{
    if (!sharedPrompt())
        sharedPrompt() = std::make_unique<RatingPrompt>();
    return sharedPrompt().get();
}

void RatingPrompt::resetSharedInstance()
{
    sharedPrompt().reset();
}

void RatingPrompt::setStore(KeyValueStore* store)
{
    m_store = store;
}

KeyValueStore* RatingPrompt::store() const
{
    return m_store ? m_store : KeyValueStore::shared();
}

void RatingPrompt::setReachability(Reachability* reachability)
{
    m_reachability = reachability;
    m_ownReachability = !reachability;
}

Reachability* RatingPrompt::reachability() const
{
    return m_ownReachability ? Reachability::shared() : m_reachability.data();
}

void RatingPrompt::setApplicationVersion(const QString& version)
{
    m_version = version;
}

QString RatingPrompt::applicationVersion() const
{
    return m_version.isEmpty() ? Bundle::version() : m_version;
}

void RatingPrompt::setAppId(const QString& appId)
{
    m_appId = appId;
}

bool RatingPrompt::isEnabled() const
{
    return Config::shared().boolValue(QStringLiteral("rating.enabled"), true);
}

void RatingPrompt::appLaunched(bool canPrompt)
{
    if (!isEnabled())
        return;
    count(kUses);
    promptIfDue(canPrompt);
}

void RatingPrompt::appEnteredForeground(bool canPrompt)
{
    if (!isEnabled())
        return;
    count(kUses);
    promptIfDue(canPrompt);
}

void RatingPrompt::userDidSignificantEvent(bool canPrompt)
{
    if (!isEnabled())
        return;
    count(kEvents);
    promptIfDue(canPrompt);
}

int RatingPrompt::intValue(const QString& key) const
{
    const std::optional<QCborValue> v = store()->value(key);
    return v && v->isInteger() ? int(v->toInteger()) : 0;
}

std::optional<QDateTime> RatingPrompt::dateValue(const QString& key) const
{
    const std::optional<QCborValue> v = store()->value(key);
    if (!v || !v->isDateTime() || !v->toDateTime().isValid())
        return std::nullopt;
    return v->toDateTime();
}

void RatingPrompt::count(const QString& key)
{
    KeyValueStore* s = store();
    const QString version = applicationVersion();
    const QDateTime now = Clock::shared()->now().toUTC();
    const std::optional<QCborValue> counted = s->value(kVersion);
    QList<std::pair<QString, QCborValue>> writes;
    if (!counted || counted->toString() != version) {
        // A new version starts its own count; the old version's reminder no longer applies.
        writes = {{kVersion, version}, {kFirstUse, QCborValue(now)}, {kReminder, QCborValue()}};
        writes.append({kUses, key == kUses ? 1 : 0});
        writes.append({kEvents, key == kEvents ? 1 : 0});
    } else {
        if (!firstUseDate())
            writes.append({kFirstUse, QCborValue(now)});
        writes.append({key, qint64(intValue(key)) + 1});
    }
    Error error;
    if (!s->setValues(writes, &error))
        qWarning("RatingPrompt: the use could not be counted: %s", qPrintable(error.description()));
}

bool RatingPrompt::hasDeclined() const
{
    const std::optional<QCborValue> v = store()->value(kDeclined);
    return v && v->isTrue();
}

bool RatingPrompt::hasRatedCurrentVersion() const
{
    const std::optional<QCborValue> v = store()->value(kRatedVersion);
    return v && v->isString() && v->toString() == applicationVersion();
}

int RatingPrompt::useCount() const
{
    return intValue(kUses);
}

int RatingPrompt::significantEventCount() const
{
    return intValue(kEvents);
}

std::optional<QDateTime> RatingPrompt::firstUseDate() const
{
    return dateValue(kFirstUse);
}

std::optional<QDateTime> RatingPrompt::reminderRequestDate() const
{
    return dateValue(kReminder);
}

bool RatingPrompt::ratingConditionsHaveBeenMet() const
{
    if (hasDeclined() || hasRatedCurrentVersion())
        return false;
    // Counts kept for another version do not count for this one.
    const std::optional<QCborValue> counted = store()->value(kVersion);
    if (!counted || counted->toString() != applicationVersion())
        return false;
    const std::optional<QDateTime> firstUse = firstUseDate();
    if (!firstUse)
        return false;
    const QDateTime now = Clock::shared()->now();
    if (firstUse->secsTo(now) < qint64(m_daysUntilPrompt * kSecondsPerDay))
        return false;
    if (useCount() < m_usesUntilPrompt || significantEventCount() < m_eventsUntilPrompt)
        return false;
    if (const std::optional<QDateTime> reminder = reminderRequestDate())
        return reminder->secsTo(now) >= qint64(m_timeBeforeReminding * kSecondsPerDay);
    return true;
}

QUrl RatingPrompt::storePageURL() const
{
    QUrl url = Config::shared().url(QStringLiteral("store.app_url"));
    if (m_appId.isEmpty())
        return url;
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("id"), m_appId);
    query.addQueryItem(QStringLiteral("action"), QStringLiteral("write-review"));
    url.setQuery(query);
    return url;
}

ui::AlertView* RatingPrompt::alert() const
{
    return m_alert && m_alert->isVisible() ? m_alert.data() : nullptr;
}

void RatingPrompt::promptIfDue(bool canPrompt)
{
    if (!canPrompt || m_showPending || alert() || !ratingConditionsHaveBeenMet())
        return;
    m_showPending = true;
    RunLoop::post([this] { showPrompt(); }, this);
}

void RatingPrompt::showPrompt()
{
    m_showPending = false;
    // Things may have changed since the call: look again.
    if (!isEnabled() || alert() || !ratingConditionsHaveBeenMet())
        return;
    Reachability* r = reachability();
    if (!r || !r->isReachable())
        return; // the store cannot be reached; a later use asks again
    auto* a = new ui::AlertView(alertTitle(), alertMessage(), QStringLiteral("No, Thanks"),
                                {QStringLiteral("Rate ZRP"), QStringLiteral("Remind Me Later")});
    connect(a, &ui::AlertView::clickedButtonAtIndex, this, &RatingPrompt::answer);
    a->show();
    if (!a->isVisible()) {
        delete a; // no window to show it in
        return;
    }
    m_alert = a;
}

void RatingPrompt::answer(int index)
{
    KeyValueStore* s = store();
    Error error;
    bool ok = true;
    switch (index) {
    case ButtonNoThanks:
        ok = s->setValue(kDeclined, true, &error);
        break;
    case ButtonRate:
        if (!ui::openExternalUrlOrTell(storePageURL()))
            qWarning("RatingPrompt: the store page could not be opened");
        ok = s->setValue(kRatedVersion, applicationVersion(), &error);
        break;
    case ButtonRemindLater:
        ok = s->setValue(kReminder, QCborValue(Clock::shared()->now().toUTC()), &error);
        break;
    default:
        break;
    }
    if (!ok)
        qWarning("RatingPrompt: the answer could not be kept: %s", qPrintable(error.description()));
}

} // namespace zrp
