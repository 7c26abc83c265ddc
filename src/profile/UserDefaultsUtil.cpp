#include "profile/UserDefaultsUtil.h"

#include "analytics/AnalyticsTracker.h"
#include "store/KeyValueStore.h"

#include <QDebug>
#include <mutex>

using zrp::KeyValueStore;

namespace {

// One lock for every list operation of the process: a read-modify-write must not interleave
// with another thread's reset or add.
std::recursive_mutex& storeLock()
{
    static std::recursive_mutex m;
    return m;
}

void trackFavoriteEvent(const QString& action, const QString& title)
{
    // The tracker refuses while it is not started; favorites work the same either way.
    zrp::AnalyticsTracker::sharedInstance()->trackEvent(QStringLiteral("favorites"), action, title, -1);
}

} // namespace

KeyValueStore* UserDefaultsUtil::store()
{
    return KeyValueStore::shared();
}

void UserDefaultsUtil::write(const QString& key, const QCborValue& value)
{
    zrp::Error error;
    if (!store()->setValue(key, value, &error))
        qWarning().noquote() << "Settings: could not write" << key << ":" << error.description();
}

QCborValue UserDefaultsUtil::archive(const QCborMap& record)
{
    // Dates in UTC, so that a record reads back equal to what was written.
    return QCborValue(KeyValueStore::normalized(QCborValue(record)).toCbor());
}

std::optional<QCborMap> UserDefaultsUtil::unarchive(const QCborValue& blob)
{
    if (!blob.isByteArray())
        return std::nullopt;
    QCborParserError error{};
    const QCborValue value = QCborValue::fromCbor(blob.toByteArray(), &error);
    if (error.error != QCborError::NoError || !value.isMap())
        return std::nullopt;
    return value.toMap();
}

QCborArray UserDefaultsUtil::blobArray(const QString& key)
{
    const std::optional<QCborValue> v = store()->value(key);
    if (!v || !v->isArray())
        return {};
    return v->toArray();
}

QList<QCborMap> UserDefaultsUtil::unarchiveAll(const QString& key)
{
    QList<QCborMap> out;
    const QCborArray blobs = blobArray(key);
    out.reserve(blobs.size());
    for (const QCborValue& blob : blobs) {
        if (std::optional<QCborMap> record = unarchive(blob))
            out.append(std::move(*record));
    }
    return out;
}

void UserDefaultsUtil::archiveAll(const QString& key, const QList<QCborMap>& records)
{
    QCborArray blobs;
    for (const QCborMap& record : records)
        blobs.append(archive(record));
    write(key, blobs);
}

qsizetype UserDefaultsUtil::findByResourceURI(const QString& resourceURI, const QCborArray& blobs)
{
    for (qsizetype i = 0; i < blobs.size(); ++i) {
        // Read the way the records read it, so that whatever identity a record has is found.
        const std::optional<QCborMap> d = unarchive(blobs.at(i));
        if (d && VEXOProgram::programURIFromDictionary(*d) == resourceURI)
            return i;
    }
    return -1;
}

// ---- location and station selection ----

std::optional<QString> UserDefaultsUtil::getSelectedZip()
{
    return stringForKey(kSelectedZip);
}

void UserDefaultsUtil::setSelectedZip(const std::optional<QString>& zip)
{
    std::lock_guard lock(storeLock());
    if (zip && getSelectedZip() == zip)
        return;
    setString(kSelectedZip, zip);
}

QList<QCborMap> UserDefaultsUtil::getAvailableStations()
{
    return unarchiveAll(kAvailableStations);
}

void UserDefaultsUtil::setAvailableStations(const QList<QCborMap>& archivedStations)
{
    archiveAll(kAvailableStations, archivedStations);
}

std::optional<int> UserDefaultsUtil::getSelectedStationIndex()
{
    const std::optional<qint64> v = integerForKey(kSelectedStationIndex);
    return v ? std::optional<int>(int(*v)) : std::nullopt;
}

void UserDefaultsUtil::setSelectedStationIndex(std::optional<int> index)
{
    if (index)
        setInteger(kSelectedStationIndex, *index);
    else
        removeObjectForKey(kSelectedStationIndex);
}

std::optional<int> UserDefaultsUtil::getSelectedFeedIndex()
{
    const std::optional<qint64> v = integerForKey(kSelectedFeedIndex);
    return v ? std::optional<int>(int(*v)) : std::nullopt;
}

void UserDefaultsUtil::setSelectedFeedIndex(int index)
{
    setInteger(kSelectedFeedIndex, index);
}

void UserDefaultsUtil::resetSettings()
{
    setSelectedZip(std::nullopt);
}

// ---- account name ----

void UserDefaultsUtil::saveLoginUserName(const std::optional<QString>& userName)
{
    setString(kLoginUserName, userName);
}

std::optional<QString> UserDefaultsUtil::getLoggedInUserName()
{
    return stringForKey(kLoginUserName);
}

// ---- calendar reminders ----

QList<QCborMap> UserDefaultsUtil::getScheduleEvents()
{
    return unarchiveAll(kScheduleEvents);
}

void UserDefaultsUtil::saveScheduleEvents(const QList<QCborMap>& events)
{
    archiveAll(kScheduleEvents, events);
}

// ---- favorite programs ----

void UserDefaultsUtil::addProgramToFavorites(const VEXOProgram& program)
{
    trackFavoriteEvent(QStringLiteral("add_favorite_program"), program.title());
    // Without a resource URI a favorite could never be found again, nor removed.
    if (!program.hasResourceURI())
        return;
    std::lock_guard lock(storeLock());
    QCborArray blobs = blobArray(kFavoritePrograms);
    if (findProgram(program, blobs) >= 0)
        return;
    blobs.append(archive(program.programDictionary()));
    write(kFavoritePrograms, blobs);
}

void UserDefaultsUtil::removeProgramFromFavorites(const VEXOProgram& program)
{
    trackFavoriteEvent(QStringLiteral("remove_favorite_program"), program.title());
    std::lock_guard lock(storeLock());
    QCborArray blobs = blobArray(kFavoritePrograms);
    const qsizetype index = findProgram(program, blobs);
    if (index < 0)
        return;
    blobs.removeAt(index);
    write(kFavoritePrograms, blobs);
}

QList<VEXOProgram> UserDefaultsUtil::getFavoritePrograms()
{
    QList<VEXOProgram> out;
    for (const QCborMap& d : unarchiveAll(kFavoritePrograms))
        out.append(VEXOProgram::programWithDictionary(d));
    return out;
}

bool UserDefaultsUtil::programInFavorites(const VEXOProgram& program)
{
    return findProgram(program, blobArray(kFavoritePrograms)) >= 0;
}

qsizetype UserDefaultsUtil::findProgram(const VEXOProgram& program, const QCborArray& blobs)
{
    if (!program.hasResourceURI())
        return -1;
    return findByResourceURI(program.resourceURI(), blobs);
}

void UserDefaultsUtil::resetFavoritePrograms()
{
    std::lock_guard lock(storeLock());
    removeObjectForKey(kFavoritePrograms);
}

// ---- viewing history ----

void UserDefaultsUtil::addEpisode(const VEXOEpisode& episode, int seconds)
{
    if (!episode.hasResourceURI())
        return;
    std::lock_guard lock(storeLock());
    QCborArray blobs = blobArray(kEpisodeHistory);
    const qsizetype old = findEpisode(episode, blobs);
    if (old >= 0)
        blobs.removeAt(old);
    QCborMap entry = episode.episodeDictionary();
    VEXOEpisode::addSeekTimeToDictionary(seconds, entry);
    blobs.insert(0, archive(entry));
    write(kEpisodeHistory, blobs);
}

std::optional<VEXOEpisode> UserDefaultsUtil::findEpisodeInHistory(const VEXOEpisode& episode)
{
    const QCborArray blobs = blobArray(kEpisodeHistory);
    const qsizetype index = findEpisode(episode, blobs);
    if (index < 0)
        return std::nullopt;
    const std::optional<QCborMap> d = unarchive(blobs.at(index));
    if (!d)
        return std::nullopt;
    return VEXOEpisode::episodeWithDictionary(*d);
}

QList<VEXOEpisode> UserDefaultsUtil::getHistory()
{
    QList<VEXOEpisode> out;
    for (const QCborMap& d : unarchiveAll(kEpisodeHistory)) {
        if (std::optional<VEXOEpisode> e = VEXOEpisode::episodeWithDictionary(d))
            out.append(std::move(*e));
    }
    return out;
}

qsizetype UserDefaultsUtil::findEpisode(const VEXOEpisode& episode, const QCborArray& blobs)
{
    if (!episode.hasResourceURI())
        return -1;
    return findByResourceURI(episode.resourceURI(), blobs);
}

void UserDefaultsUtil::resetHistory()
{
    std::lock_guard lock(storeLock());
    removeObjectForKey(kEpisodeHistory);
}

// ---- program choices ----

void UserDefaultsUtil::saveProgramChoices(const QMap<QString, QCborMap>& choices)
{
    QCborMap all;
    for (auto it = choices.constBegin(); it != choices.constEnd(); ++it)
        all.insert(it.key(), it.value());
    std::lock_guard lock(storeLock());
    write(kProgramChoices, archive(all));
}

std::optional<QMap<QString, QCborMap>> UserDefaultsUtil::getProgramChoices()
{
    const std::optional<QCborValue> stored = store()->value(kProgramChoices);
    if (!stored)
        return std::nullopt;
    const std::optional<QCborMap> all = unarchive(*stored);
    if (!all)
        return std::nullopt;
    QMap<QString, QCborMap> out;
    for (auto it = all->constBegin(); it != all->constEnd(); ++it) {
        if (it.key().isString() && it.value().isMap())
            out.insert(it.key().toString(), it.value().toMap());
    }
    return out;
}

void UserDefaultsUtil::resetProgramChoices()
{
    std::lock_guard lock(storeLock());
    removeObjectForKey(kProgramChoices);
}

// ---- plain values ----

std::optional<QString> UserDefaultsUtil::stringForKey(const QString& key)
{
    const std::optional<QCborValue> v = store()->value(key);
    if (!v || !v->isString())
        return std::nullopt;
    return v->toString();
}

std::optional<qint64> UserDefaultsUtil::integerForKey(const QString& key)
{
    const std::optional<QCborValue> v = store()->value(key);
    if (!v)
        return std::nullopt;
    if (v->isInteger())
        return v->toInteger();
    if (v->isDouble())
        return qint64(v->toDouble());
    return std::nullopt;
}

bool UserDefaultsUtil::boolForKey(const QString& key)
{
    const std::optional<QCborValue> v = store()->value(key);
    if (!v)
        return false;
    if (v->isBool())
        return v->toBool();
    if (v->isInteger())
        return v->toInteger() != 0;
    return false;
}

QStringList UserDefaultsUtil::stringArrayForKey(const QString& key)
{
    QStringList out;
    const std::optional<QCborValue> v = store()->value(key);
    if (!v || !v->isArray())
        return out;
    for (const QCborValue& item : v->toArray()) {
        if (item.isString())
            out.append(item.toString());
    }
    return out;
}

void UserDefaultsUtil::setString(const QString& key, const std::optional<QString>& value)
{
    if (value)
        write(key, QCborValue(*value));
    else
        removeObjectForKey(key);
}

void UserDefaultsUtil::setInteger(const QString& key, qint64 value)
{
    write(key, QCborValue(value));
}

void UserDefaultsUtil::setBool(const QString& key, bool value)
{
    write(key, QCborValue(value));
}

void UserDefaultsUtil::removeObjectForKey(const QString& key)
{
    zrp::Error error;
    if (!store()->remove(key, &error))
        qWarning().noquote() << "Settings: could not remove" << key << ":" << error.description();
}
