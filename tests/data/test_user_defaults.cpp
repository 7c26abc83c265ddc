#include "analytics/AnalyticsTracker.h"
#include "catalog/VEXOClientAPI.h"
#include "core/Clock.h"
#include "core/Device.h"
#include "core/WorkQueue.h"
#include "profile/UserDefaultsUtil.h"
#include "store/KeyValueStore.h"

#include <QCborArray>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <memory>

using namespace zrp;

namespace {

QJsonObject programJson(const QString& id, const QString& title)
{
    return QJsonObject{
        {"resource_uri", QStringLiteral("/vexo/v1/programs/%1/").arg(id)},
        {"title", title},
        {"nola_root", QJsonValue::Null},
        {"producer", QJsonObject{{"name", "KXZR"}, {"liverail_id", 4411}}},
        {"associated_images", QJsonArray{QJsonObject{{"url", "https://img.example/p.png"},
                                                     {"type", QJsonObject{{"usage_type", "iPad-Large"}}}}}},
        {"rating", 4.25},
        {"featured", true},
        {"tags", QJsonArray{"drama", 7, QJsonValue::Null, QJsonObject{{"nested", QJsonArray{1.5, false}}}}},
    };
}

QJsonObject videoJson(const QString& id, const QString& availability = QStringLiteral("Available"))
{
    return QJsonObject{
        {"resource_uri", QStringLiteral("/vexo/v1/videos/%1/").arg(id)},
        {"title", QStringLiteral("Video %1").arg(id)},
        {"tp_media_object_id", 2365000000LL + id.toLongLong()},
        {"availability", availability},
        {"airdate", "2025-11-02 19:00:00"},
        {"mediafiles",
         QJsonArray{QJsonObject{
             {"video_encoding", QJsonObject{{"mime_type", "application/x-mpegURL"}, {"name", "iPad-16x9"}}},
             {"video_data_url", QStringLiteral("https://media.example/%1.m3u8?x=1").arg(id)},
             {"length_mseconds", 1800000}}}},
        {"is_segment", false},
        {"program", programJson(QStringLiteral("1"), QStringLiteral("Harbor Lights"))},
    };
}

VEXOProgram program(const QString& id, const QString& title = QStringLiteral("Harbor Lights"))
{
    return VEXOProgram::programWithDictionary(programJson(id, title));
}

VEXOEpisode episode(const QString& id)
{
    return *VEXOEpisode::episodeWithDictionary(videoJson(id));
}

QStringList uris(const QList<VEXOEpisode>& list)
{
    QStringList out;
    for (const VEXOEpisode& e : list)
        out << e.resourceURI();
    return out;
}

} // namespace

class TestUserDefaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<KeyValueStore> m_store;
    VirtualClock m_clock{QDateTime(QDate(2026, 2, 10), QTime(8, 0), Qt::UTC)};

    QCborArray storedArray(const QString& key) const
    {
        const std::optional<QCborValue> v = m_store->value(key);
        return v && v->isArray() ? v->toArray() : QCborArray();
    }

    QList<AnalyticsHit> favoriteEvents() const
    {
        QList<AnalyticsHit> out;
        for (const AnalyticsHit& hit : AnalyticsTracker::sharedInstance()->queuedHits()) {
            if (hit.type == QLatin1String("event") && hit.category == QLatin1String("favorites"))
                out.append(hit);
        }
        return out;
    }

    qint64 walSize() const { return QFileInfo(m_store->path() + QStringLiteral("-wal")).size(); }

private slots:
    void init()
    {
        Clock::setShared(&m_clock);
        VEXOClientAPI::setDeviceForTesting(Device::IdiomPad, false);
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_store = std::make_unique<KeyValueStore>(m_dir->filePath(QStringLiteral("settings.sqlite")));
        QVERIFY(m_store->isOpen());
        KeyValueStore::setShared(m_store.get());
        AnalyticsTracker::resetSharedInstance();
        // A long period on the virtual clock: hits stay queued where the test can read them.
        QVERIFY(
            AnalyticsTracker::sharedInstance()->startTrackerWithAccountID(QStringLiteral("ZA-1-1"), 3600));
    }

    void cleanup()
    {
        AnalyticsTracker::resetSharedInstance();
        KeyValueStore::setShared(nullptr);
        m_store.reset();
        m_dir.reset();
        VEXOClientAPI::setDeviceForTesting(std::nullopt, std::nullopt);
        Clock::setShared(nullptr);
    }

    void absentKeysReadAsEmptyOrNone()
    {
        QVERIFY(UserDefaultsUtil::getAvailableStations().isEmpty());
        QVERIFY(UserDefaultsUtil::getScheduleEvents().isEmpty());
        QVERIFY(UserDefaultsUtil::getFavoritePrograms().isEmpty());
        QVERIFY(UserDefaultsUtil::getHistory().isEmpty());
        QVERIFY(!UserDefaultsUtil::getProgramChoices().has_value());
        QVERIFY(!UserDefaultsUtil::getSelectedZip());
        QVERIFY(!UserDefaultsUtil::getSelectedStationIndex());
        QVERIFY(!UserDefaultsUtil::getSelectedFeedIndex());
        QVERIFY(!UserDefaultsUtil::getLoggedInUserName());
        QVERIFY(!UserDefaultsUtil::findEpisodeInHistory(episode("1")));
        QVERIFY(!UserDefaultsUtil::programInFavorites(program("1")));
        QVERIFY(!UserDefaultsUtil::boolForKey(UserDefaultsUtil::kFacebookIntegration));

        // A key holding something of another kind reads the same way.
        m_store->setValue(UserDefaultsUtil::kEpisodeHistory, QCborValue(QStringLiteral("not a list")));
        m_store->setValue(UserDefaultsUtil::kProgramChoices, QCborValue(42));
        QVERIFY(UserDefaultsUtil::getHistory().isEmpty());
        QVERIFY(!UserDefaultsUtil::getProgramChoices().has_value());
    }

    void zipCodeAndStationSelection()
    {
        UserDefaultsUtil::setSelectedZip(QStringLiteral("94110"));
        UserDefaultsUtil::setAvailableStations(
            {QCborMap{{QStringLiteral("callsign"), QStringLiteral("KXZR")}},
             QCborMap{{QStringLiteral("callsign"), QStringLiteral("KQQD")}}});
        UserDefaultsUtil::setSelectedStationIndex(1);
        UserDefaultsUtil::setSelectedFeedIndex(0);
        QCOMPARE(UserDefaultsUtil::getSelectedZip(), std::optional<QString>(QStringLiteral("94110")));

        // The same zip code again is not written at all; a different one is.
        const qint64 before = walSize();
        QVERIFY(before > 0);
        UserDefaultsUtil::setSelectedZip(QStringLiteral("94110"));
        QCOMPARE(walSize(), before);
        UserDefaultsUtil::setSelectedZip(QStringLiteral("10001"));
        QVERIFY(walSize() > before);
        QCOMPARE(UserDefaultsUtil::getSelectedZip(), std::optional<QString>(QStringLiteral("10001")));

        // Each station is its own blob.
        const QCborArray stations = storedArray(UserDefaultsUtil::kAvailableStations);
        QCOMPARE(stations.size(), qsizetype(2));
        QVERIFY(stations.at(0).isByteArray() && stations.at(1).isByteArray());

        // Reset forgets the zip code and nothing else.
        UserDefaultsUtil::resetSettings();
        QVERIFY(!UserDefaultsUtil::getSelectedZip());
        QVERIFY(!m_store->contains(UserDefaultsUtil::kSelectedZip));
        QCOMPARE(UserDefaultsUtil::getAvailableStations().size(), qsizetype(2));
        QCOMPARE(UserDefaultsUtil::getAvailableStations().at(1).value(QStringLiteral("callsign")).toString(),
                 QStringLiteral("KQQD"));
        QCOMPARE(UserDefaultsUtil::getSelectedStationIndex(), std::optional<int>(1));
        QCOMPARE(UserDefaultsUtil::getSelectedFeedIndex(), std::optional<int>(0));

        UserDefaultsUtil::setSelectedStationIndex(std::nullopt);
        QVERIFY(!m_store->contains(UserDefaultsUtil::kSelectedStationIndex));
        UserDefaultsUtil::saveLoginUserName(QStringLiteral("viewer@example.org"));
        QCOMPARE(UserDefaultsUtil::getLoggedInUserName(),
                 std::optional<QString>(QStringLiteral("viewer@example.org")));
        UserDefaultsUtil::saveLoginUserName(std::nullopt);
        QVERIFY(!m_store->contains(UserDefaultsUtil::kLoginUserName));
    }

    void favorites()
    {
        UserDefaultsUtil::addProgramToFavorites(program("1", "Harbor Lights"));
        UserDefaultsUtil::addProgramToFavorites(program("2", "Quiet Fields"));
        const QCborValue afterTwo = *m_store->value(UserDefaultsUtil::kFavoritePrograms);
        // Same resource URI, another title: nothing written, the event still recorded.
        UserDefaultsUtil::addProgramToFavorites(program("1", "Harbor Lights (new title)"));
        QCOMPARE(*m_store->value(UserDefaultsUtil::kFavoritePrograms), afterTwo);
        // Not in the list: unchanged.
        UserDefaultsUtil::removeProgramFromFavorites(program("3", "Elsewhere"));
        QCOMPARE(*m_store->value(UserDefaultsUtil::kFavoritePrograms), afterTwo);

        QList<VEXOProgram> list = UserDefaultsUtil::getFavoritePrograms();
        QCOMPARE(list.size(), qsizetype(2));
        QCOMPARE(list.at(0).title(), QStringLiteral("Harbor Lights"));
        QCOMPARE(list.at(1).title(), QStringLiteral("Quiet Fields"));
        QVERIFY(list.at(0).isLocalProgram());
        QVERIFY(UserDefaultsUtil::programInFavorites(program("2")));
        QCOMPARE(
            UserDefaultsUtil::findProgram(program("2"), storedArray(UserDefaultsUtil::kFavoritePrograms)),
            qsizetype(1));
        QCOMPARE(
            UserDefaultsUtil::findProgram(program("9"), storedArray(UserDefaultsUtil::kFavoritePrograms)),
            qsizetype(-1));

        UserDefaultsUtil::removeProgramFromFavorites(program("1"));
        list = UserDefaultsUtil::getFavoritePrograms();
        QCOMPARE(list.size(), qsizetype(1));
        QCOMPARE(list.first().resourceURI(), QStringLiteral("/vexo/v1/programs/2/"));

        // A program without identity could never be found or removed again: it is not stored.
        QJsonObject anonymous = programJson(QStringLiteral("4"), QStringLiteral("Nameless"));
        anonymous.remove("resource_uri");
        UserDefaultsUtil::addProgramToFavorites(VEXOProgram::programWithDictionary(anonymous));
        QCOMPARE(UserDefaultsUtil::getFavoritePrograms().size(), qsizetype(1));

        const QList<AnalyticsHit> events = favoriteEvents();
        QStringList seen;
        for (const AnalyticsHit& hit : events) {
            QCOMPARE(hit.value, qint64(-1));
            seen << hit.action + QLatin1Char(':') + hit.label;
        }
        QCOMPARE(seen,
                 (QStringList{"add_favorite_program:Harbor Lights", "add_favorite_program:Quiet Fields",
                              "add_favorite_program:Harbor Lights (new title)",
                              "remove_favorite_program:Elsewhere", "remove_favorite_program:Harbor Lights",
                              "add_favorite_program:Nameless"}));

        UserDefaultsUtil::resetFavoritePrograms();
        QVERIFY(!m_store->contains(UserDefaultsUtil::kFavoritePrograms));
    }

    void history()
    {
        const QDateTime t0 = m_clock.now();
        UserDefaultsUtil::addEpisode(episode("1"), 10);
        m_clock.setNow(t0.addSecs(60));
        UserDefaultsUtil::addEpisode(episode("2"), 20);
        m_clock.setNow(t0.addSecs(120));
        UserDefaultsUtil::addEpisode(episode("1"), 30);

        const QList<VEXOEpisode> list = UserDefaultsUtil::getHistory();
        QCOMPARE(uris(list), (QStringList{"/vexo/v1/videos/1/", "/vexo/v1/videos/2/"}));
        QCOMPARE(list.at(0).seekTime(), std::optional<int>(30));
        QCOMPARE(list.at(0).lastWatched(), std::optional<QDateTime>(t0.addSecs(120)));
        QCOMPARE(list.at(1).seekTime(), std::optional<int>(20));
        QCOMPARE(list.at(1).lastWatched(), std::optional<QDateTime>(t0.addSecs(60)));

        const std::optional<VEXOEpisode> found = UserDefaultsUtil::findEpisodeInHistory(episode("2"));
        QVERIFY(found);
        QCOMPARE(found->seekTime(), std::optional<int>(20));
        QCOMPARE(found->videoDataURL(), episode("2").videoDataURL());
        QVERIFY(!UserDefaultsUtil::findEpisodeInHistory(episode("3")));

        UserDefaultsUtil::resetHistory();
        QVERIFY(UserDefaultsUtil::getHistory().isEmpty());
        QVERIFY(!m_store->contains(UserDefaultsUtil::kEpisodeHistory));
    }

    // Entries that no longer make a video, and blobs that no longer decode, are left out of what
    // is read but stay stored; the expired one still counts when its video is watched again.
    void historyKeepsWhatItCannotRead()
    {
        UserDefaultsUtil::addEpisode(episode("1"), 5);
        QCborArray blobs = storedArray(UserDefaultsUtil::kEpisodeHistory);
        QCborMap expired =
            QCborMap::fromJsonObject(videoJson(QStringLiteral("2"), QStringLiteral("Expired")));
        VEXOEpisode::addSeekTimeToDictionary(99, expired);
        blobs.append(UserDefaultsUtil::archive(expired));
        blobs.append(QCborValue(QByteArray("\xff\x01 not cbor")));
        blobs.append(QCborValue(QStringLiteral("not a blob")));
        QVERIFY(m_store->setValue(UserDefaultsUtil::kEpisodeHistory, blobs));

        QCOMPARE(uris(UserDefaultsUtil::getHistory()), QStringList{"/vexo/v1/videos/1/"});
        QVERIFY(!UserDefaultsUtil::findEpisodeInHistory(episode("2")));
        QCOMPARE(storedArray(UserDefaultsUtil::kEpisodeHistory).size(), qsizetype(4));

        UserDefaultsUtil::addEpisode(episode("2"), 44);
        const QCborArray after = storedArray(UserDefaultsUtil::kEpisodeHistory);
        QCOMPARE(after.size(), qsizetype(4)); // the old expired entry was replaced, not duplicated
        QCOMPARE(uris(UserDefaultsUtil::getHistory()),
                 (QStringList{"/vexo/v1/videos/2/", "/vexo/v1/videos/1/"}));
        QCOMPARE(UserDefaultsUtil::findEpisodeInHistory(episode("2"))->seekTime(), std::optional<int>(44));
        QCOMPARE(after.at(3), blobs.at(3)); // unreadable entries left as they were
    }

    // What goes in comes back with every key and value type, across a reopening of the store.
    void archivesKeepTypes()
    {
        const QJsonObject source = programJson(QStringLiteral("7"), QStringLiteral("Types"));
        UserDefaultsUtil::addProgramToFavorites(VEXOProgram::programWithDictionary(source));
        UserDefaultsUtil::addEpisode(episode("5"), 61);
        const QDateTime local(QDate(2026, 3, 1), QTime(20, 0), QTimeZone(3600 * -5));
        UserDefaultsUtil::saveScheduleEvents(
            {QCborMap{{QStringLiteral("eventID"), QStringLiteral("E-1")},
                      {QStringLiteral("eventTitle"), QStringLiteral("Harbor Lights")},
                      {QStringLiteral("eventDate"), QCborValue(local)},
                      {QStringLiteral("eventDetail"), QStringLiteral("On KXZR")}}});

        KeyValueStore::setShared(nullptr);
        const QString path = m_store->path();
        m_store.reset();
        m_store = std::make_unique<KeyValueStore>(path);
        KeyValueStore::setShared(m_store.get());

        const QList<VEXOProgram> favorites = UserDefaultsUtil::getFavoritePrograms();
        QCOMPARE(favorites.size(), qsizetype(1));
        QCOMPARE(favorites.first().programDictionary(), QCborMap::fromJsonObject(source));
        QCOMPARE(favorites.first().programDictionary().toJsonObject(), source);
        const QCborMap stored = favorites.first().programDictionary();
        QVERIFY(stored.value(QLatin1String("rating")).isDouble());
        QVERIFY(stored.value(QLatin1String("featured")).isBool());
        QVERIFY(stored.value(QLatin1String("nola_root")).isNull());

        const QList<VEXOEpisode> history = UserDefaultsUtil::getHistory();
        QCOMPARE(history.size(), qsizetype(1));
        const QCborMap entry = history.first().episodeDictionary();
        QVERIFY(entry.value(QLatin1String("seek_time")).isInteger());
        QVERIFY(entry.value(QLatin1String("last_watched")).isDateTime());
        QCOMPARE(history.first().lastWatched(), std::optional<QDateTime>(m_clock.now()));

        const QList<QCborMap> events = UserDefaultsUtil::getScheduleEvents();
        QCOMPARE(events.size(), qsizetype(1));
        QVERIFY(events.first().value(QLatin1String("eventDate")).isDateTime());
        QCOMPARE(events.first().value(QLatin1String("eventDate")).toDateTime(), local);
    }

    void programChoices()
    {
        QVERIFY(!UserDefaultsUtil::getProgramChoices().has_value());
        UserDefaultsUtil::saveProgramChoices({});
        QVERIFY(UserDefaultsUtil::getProgramChoices().has_value());
        QVERIFY(UserDefaultsUtil::getProgramChoices()->isEmpty());

        const QMap<QString, QCborMap> choices{
            {QStringLiteral("12"), QCborMap{{QStringLiteral("original_id"), 12},
                                            {QStringLiteral("name"), "Harbor"},
                                            {QStringLiteral("id"), 901},
                                            {QStringLiteral("program_id"), "12"}}},
            {QStringLiteral("40"), QCborMap{{QStringLiteral("original_id"), 40},
                                            {QStringLiteral("name"), "Fields"},
                                            {QStringLiteral("id"), 902},
                                            {QStringLiteral("program_id"), "40"}}}};
        UserDefaultsUtil::saveProgramChoices(choices);
        QVERIFY(m_store->value(UserDefaultsUtil::kProgramChoices)->isByteArray()); // one blob
        using Choices = std::optional<QMap<QString, QCborMap>>;
        QCOMPARE(UserDefaultsUtil::getProgramChoices(), Choices(choices));
        UserDefaultsUtil::resetProgramChoices();
        QVERIFY(!UserDefaultsUtil::getProgramChoices().has_value());
    }

    // The profile synchroniser and the info panel call in from background threads while the
    // main thread adds: no addition may be lost.
    void concurrentCallers()
    {
        constexpr int perThread = 20;
        std::vector<std::unique_ptr<WorkQueue>> queues;
        for (int q = 0; q < 3; ++q) {
            queues.push_back(std::make_unique<WorkQueue>(QStringLiteral("settings-%1").arg(q)));
            WorkQueue* queue = queues.back().get();
            queue->async([q] {
                for (int i = 0; i < perThread; ++i) {
                    UserDefaultsUtil::addEpisode(episode(QString::number(1000 * (q + 1) + i)), i);
                    UserDefaultsUtil::saveProgramChoices(
                        {{QString::number(i), QCborMap{{QStringLiteral("id"), i}}}});
                    UserDefaultsUtil::getProgramChoices();
                }
            });
        }
        for (int i = 0; i < perThread; ++i) {
            UserDefaultsUtil::addEpisode(episode(QString::number(i)), i);
            UserDefaultsUtil::addProgramToFavorites(program(QString::number(i)));
        }
        for (auto& queue : queues)
            queue->waitForIdle();
        QCOMPARE(UserDefaultsUtil::getHistory().size(), qsizetype(4 * perThread));
        QCOMPARE(UserDefaultsUtil::getFavoritePrograms().size(), qsizetype(perThread));
        QVERIFY(UserDefaultsUtil::getProgramChoices().has_value());
    }
};

QTEST_MAIN(TestUserDefaults)
#include "test_user_defaults.moc"
