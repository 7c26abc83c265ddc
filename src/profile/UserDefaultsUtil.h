#pragma once

#include "catalog/VEXOEpisode.h"
#include "catalog/VEXOProgram.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace zrp {
class KeyValueStore;
}

// The application's persistent settings: class-level operations over the shared key-value store
// (KeyValueStore::shared()). Every operation reads the store afresh and every write is committed
// before it returns. Records are kept as archives: each element of a list is its own CBOR blob,
// so one unreadable element is skipped without losing the others.
//
// Safe from any thread: each read-modify-write of a list runs under one process-wide lock, so a
// reset on a background thread never interleaves with an add on the main thread.
class UserDefaultsUtil
{
public:
    UserDefaultsUtil() = delete;

    // Every key of the application's own making.
    static inline const QString kSelectedZip = QStringLiteral("SelectedZip");
    static inline const QString kAvailableStations = QStringLiteral("AvailableStations");
    static inline const QString kSelectedStationIndex = QStringLiteral("SelectedStationIndex");
    static inline const QString kSelectedFeedIndex = QStringLiteral("SelectedFeedIndex");
    static inline const QString kLoginUserName = QStringLiteral("LOGIN_USERNAME");
    static inline const QString kScheduleEvents = QStringLiteral("SCHEDULE_EVENTS");
    static inline const QString kFavoritePrograms = QStringLiteral("FAVORITE_PROGRAMS");
    static inline const QString kEpisodeHistory = QStringLiteral("EPISODE_HISTORY");
    static inline const QString kProgramChoices = QStringLiteral("PROGRAM_CHOICES");
    static inline const QString kBackgroundFastTime = QStringLiteral("BackgroundFastTime");
    static inline const QString kBackgroundSplashTime = QStringLiteral("BackgroundSplashTime");
    static inline const QString kBackgroundRefreshTime = QStringLiteral("BackgroundRefreshTime");
    static inline const QString kFacebookIntegration = QStringLiteral("facebook_integration");
    static inline const QString kTwitterIntegration = QStringLiteral("twitter_integration");
    // Written by older versions only; read once by the station selection's migration.
    static inline const QString kLegacyZipCodes = QStringLiteral("ZipCodes");
    static inline const QString kLegacyStationName = QStringLiteral("StationName");
    static inline const QString kLegacyChannel = QStringLiteral("Channel");
    static inline const QString kLegacyFeedName = QStringLiteral("feedName");

    // Used in memory when the configuration keys are absent.
    static constexpr qint64 kDefaultBackgroundFastTime = 60;
    static constexpr qint64 kDefaultBackgroundSplashTime = 180;
    static constexpr qint64 kDefaultBackgroundRefreshTime = 108000;

    // ---- location and station selection ----
    static std::optional<QString> getSelectedZip();
    // An equal zip code writes nothing; none removes the key.
    static void setSelectedZip(const std::optional<QString>& zip);
    // Archived stations (each one record's archive, as its class writes it); unreadable ones are
    // left out.
    static QList<QCborMap> getAvailableStations();
    static void setAvailableStations(const QList<QCborMap>& archivedStations);
    static std::optional<int> getSelectedStationIndex();
    static void setSelectedStationIndex(std::optional<int> index);
    static std::optional<int> getSelectedFeedIndex();
    static void setSelectedFeedIndex(int index);
    // Forgets the zip code, and only that.
    static void resetSettings();

    // ---- account name ----
    static void saveLoginUserName(const std::optional<QString>& userName);
    static std::optional<QString> getLoggedInUserName();

    // ---- calendar reminders ----
    static QList<QCborMap> getScheduleEvents();
    static void saveScheduleEvents(const QList<QCborMap>& events);

    // ---- favorite programs (this device) ----
    static void addProgramToFavorites(const VEXOProgram& program);
    static void removeProgramFromFavorites(const VEXOProgram& program);
    static QList<VEXOProgram> getFavoritePrograms();
    static bool programInFavorites(const VEXOProgram& program);
    // Index of the first stored blob with the program's resource URI; -1 when none.
    static qsizetype findProgram(const VEXOProgram& program, const QCborArray& blobs);
    static void resetFavoritePrograms();

    // ---- viewing history (this device), most recent first ----
    static void addEpisode(const VEXOEpisode& episode, int seconds);
    static std::optional<VEXOEpisode> findEpisodeInHistory(const VEXOEpisode& episode);
    // Entries that no longer make a video (expired since) are left out, and left stored.
    static QList<VEXOEpisode> getHistory();
    static qsizetype findEpisode(const VEXOEpisode& episode, const QCborArray& blobs);
    static void resetHistory();

    // ---- program choices of the account service: program id -> archived choice ----
    static void saveProgramChoices(const QMap<QString, QCborMap>& choices);
    // None when nothing is stored (not an empty dictionary).
    static std::optional<QMap<QString, QCborMap>> getProgramChoices();
    static void resetProgramChoices();

    // ---- plain values for the keys other classes keep ----
    static std::optional<QString> stringForKey(const QString& key);
    static std::optional<qint64> integerForKey(const QString& key);
    static bool boolForKey(const QString& key); // false when absent
    static QStringList stringArrayForKey(const QString& key);
    static void setString(const QString& key, const std::optional<QString>& value);
    static void setInteger(const QString& key, qint64 value);
    static void setBool(const QString& key, bool value);
    static void removeObjectForKey(const QString& key);

    // The archive form of one record: its CBOR bytes as a blob, and back (none when the bytes no
    // longer decode to a dictionary).
    static QCborValue archive(const QCborMap& record);
    static std::optional<QCborMap> unarchive(const QCborValue& blob);

private:
    static zrp::KeyValueStore* store();
    static QCborArray blobArray(const QString& key);
    static void write(const QString& key, const QCborValue& value);
    static QList<QCborMap> unarchiveAll(const QString& key);
    static void archiveAll(const QString& key, const QList<QCborMap>& records);
    static qsizetype findByResourceURI(const QString& resourceURI, const QCborArray& blobs);
};
