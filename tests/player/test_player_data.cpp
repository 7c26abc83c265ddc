#include "LoopbackServer.h"
#include "ZRPAdItem.h"
#include "ZRPPlayerData.h"
#include "ZRPPlayerDataPicker.h"
#include "ZRPPlayerDictionary.h"
#include "ZRPPlayerVideo.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/WorkQueue.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QUrlQuery>
#include <QtTest>
#include <mutex>

using namespace zrp;
using zrp::test::LoopbackServer;

namespace {

QVariantMap json(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).toVariant().toMap();
}

QVariantMap mediaFile(const QString& encoding, const QString& url, int ms = 60000)
{
    return {{"video_encoding", QVariantMap{{"name", encoding}}},
            {"video_data_url", url},
            {"length_mseconds", ms}};
}

QVariantMap image(const QString& usage, const QString& url)
{
    return {{"type", QVariantMap{{"usage_type", usage}}}, {"url", url}};
}

const char* kTablet = "iPad2,1";
const char* kPhone = "iPhone2,1";  // "iPhone 3GS": device class 2
const char* kPhone4 = "iPhone3,1"; // "iPhone 4 (GSM)": device class 1

QByteArray videoJson(int mediaId, const QString& encoding = "iPad-16x9")
{
    QVariantMap v{
        {"title", "Episode One"},
        {"resource_uri", "/api/v1/videos/" + QString::number(mediaId + 1000) + "/"},
        {"tp_media_object_id", mediaId},
        {"type", "Episode"},
        {"mediafiles", QVariantList{mediaFile(encoding, "http://s/" + QString::number(mediaId) + ".m3u8")}},
        {"program", QVariantMap{{"slug", "arts-and-crafts"}, {"title", "Arts"}}}};
    return QJsonDocument::fromVariant(v).toJson();
}

struct Results
{
    std::mutex mutex;
    int completions = 0;
    int errors = 0;
    QList<ZRPPlayerVideo> videos;
    QList<int> times;
    QList<ZRPAdItem> ads;
    Error error;
    int count()
    {
        std::lock_guard lock(mutex);
        return completions + errors;
    }
};

} // namespace

class TestPlayerData : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void mediaFilePriorities_data();
    void mediaFilePriorities();
    void imagePriorities_data();
    void imagePriorities();
    void videoRecord();
    void videoRecordEdgeCases_data();
    void videoRecordEdgeCases();
    void mapHelpers();
    void chapterTimes();
    void adItem_data();
    void adItem();
    void adItemURLs();
    void adRequestURL();

    void videosForMediaIdOverHTTP();
    void secondRequestReplacesStoredCallbacks();
    void adTimesAskedOneAfterAnother();
    void errorAtSecondPositionFailsTheWholeRequest();
    void cancelDuringFirstPositionReportsNothing();
    void adsForVideoWithoutTimesDoesNothing();
    void sessionIdIsStable();

private:
    void serveAds();
    LoopbackServer m_server;
};

void TestPlayerData::init()
{
    Config::shared().resetToDefaults();
    Config::shared().setValue("catalog.base_url", m_server.url("/vexo/v1/").toString());
    Config::shared().setValue("liverail.base_url", m_server.url("/liverail/").toString());
    Config::shared().setValue("video_site.base_url", "https://video.example/");
    Device::setPlatformNameForTesting(QString::fromLatin1(kTablet));
    ZRPPlayerData::resetSharedInstanceForTesting();
    m_server.reset();
}

void TestPlayerData::cleanup()
{
    ZRPPlayerData::sharedInstance().cancelRequests();
    Device::setPlatformNameForTesting(QString());
    Config::shared().resetToDefaults();
}

void TestPlayerData::mediaFilePriorities_data()
{
    QTest::addColumn<QString>("machine");
    QTest::addColumn<QStringList>("encodings");
    QTest::addColumn<int>("chosen"); // index, -1 none
    QTest::newRow("tablet prefers iPad-16x9")
        << kTablet << QStringList{"iPhone-4x3", "iPad-4x3", "iPad-16x9"} << 2;
    QTest::newRow("tablet then iPad-4x3") << kTablet << QStringList{"iPhone-4x3", "iPad-4x3"} << 1;
    QTest::newRow("tablet equal first wins") << kTablet << QStringList{"iPad-4x3", "iPad-4x3"} << 0;
    QTest::newRow("tablet stops at best") << kTablet << QStringList{"iPad-16x9", "iPad-16x9"} << 0;
    QTest::newRow("unknown encodings") << kTablet << QStringList{"HLS 2500k", "No encoding"} << -1;
    QTest::newRow("phone prefers iPhone-16x9")
        << kPhone << QStringList{"iPad-16x9", "iPhone-4x3", "iPhone-16x9"} << 2;
    QTest::newRow("phone takes iPad-4x3 over iPad-16x9")
        << kPhone << QStringList{"iPad-16x9", "iPad-4x3"} << 1;
}

void TestPlayerData::mediaFilePriorities()
{
    QFETCH(QString, machine);
    QFETCH(QStringList, encodings);
    QFETCH(int, chosen);
    Device::setPlatformNameForTesting(machine);
    QVariantList files;
    for (int i = 0; i < encodings.size(); ++i)
        files << mediaFile(encodings[i], QString::number(i));
    const auto file = ZRPPlayerDataPicker::mediaFileFromOptions(files);
    QCOMPARE(file.has_value(), chosen >= 0);
    if (file)
        QCOMPARE(file->value("video_data_url").toString(), QString::number(chosen));
}

void TestPlayerData::imagePriorities_data()
{
    QTest::addColumn<QString>("machine");
    QTest::addColumn<QStringList>("usages");
    QTest::addColumn<int>("image");     // chosen index, -1 none
    QTest::addColumn<int>("thumbnail"); // chosen index, -1 none
    const QStringList all{"iPhone-Small", "iPad-Small", "iPhone-Medium", "iPad-Large"};
    QTest::newRow("tablet all") << kTablet << all << 3 << 2;
    QTest::newRow("tablet only iPhone-Small")
        << kTablet << QStringList{"iPhone-Small", "iPhone-Small"} << -1 << 0;
    QTest::newRow("iPhone 4 all") << kPhone4 << all << 2 << 3;
    QTest::newRow("other phone all") << kPhone << all << 0 << 0;
    QTest::newRow("other phone only iPad-Large") << kPhone << QStringList{"iPad-Large"} << -1 << -1;
    QTest::newRow("unknown usage") << kTablet << QStringList{"Banner"} << -1 << -1;
}

void TestPlayerData::imagePriorities()
{
    QFETCH(QString, machine);
    QFETCH(QStringList, usages);
    QFETCH(int, image);
    QFETCH(int, thumbnail);
    Device::setPlatformNameForTesting(machine);
    QVariantList images;
    for (int i = 0; i < usages.size(); ++i)
        images << ::image(usages[i], "u" + QString::number(i));
    const auto expect = [](int i) { return i < 0 ? QString() : "u" + QString::number(i); };
    QCOMPARE(ZRPPlayerDataPicker::imageURLFromOptions(images), expect(image));
    QCOMPARE(ZRPPlayerDataPicker::thumbnailURLFromOptions(images), expect(thumbnail));
}

void TestPlayerData::videoRecord()
{
    const QVariantMap d = json(R"({
        "title": "Weaving", "short_description": "S", "long_description": "L",
        "nola_episode": "000123", "nola_root": "ABC", "resource_uri": "/api/v1/videos/2365/",
        "episode_url": "http://e/", "tp_media_object_id": 2365000123, "type": "Clip", "gated_content": true,
        "airdate": "2026-03-01 18:30:00", "expire_datetime": "2026-06-01 00:00:00",
        "buy_dvd_link": "http://dvd", "itunes_link": "",
        "associated_images": [{"type": {"usage_type": "iPad-Large"}, "url": "http://big"},
                              {"type": {"usage_type": "iPhone-Medium"}, "url": "http://medium"}],
        "mediafiles": [{"video_encoding": {"name": "iPad-4x3"}, "video_data_url": "http://s/a.m3u8",
                        "length_mseconds": 1500700}],
        "producer": {"liverail_id": 4242},
        "program": {"title": "Arts", "slug": "arts-and-crafts", "resource_uri": "/api/v1/programs/77/"}})");
    const auto v = ZRPPlayerVideo::videoWithDictionary(d);
    QVERIFY(v);
    QCOMPARE(v->title, QStringLiteral("Weaving"));
    QCOMPARE(v->videoId, QStringLiteral("2365"));
    QCOMPARE(v->mediaId.value_or(0), Q_INT64_C(2365000123));
    QCOMPARE(v->type, ZRPPlayerVideoTypeClip);
    QVERIFY(v->isGated);
    QCOMPARE(v->airDate, QDateTime(QDate(2026, 3, 1), QTime(18, 30), Qt::UTC));
    QCOMPARE(v->buyLinks(),
             (QMap<QString, QString>{{"buy_dvd_link", "http://dvd"}})); // empty counts as absent
    QCOMPARE(v->imageURL, QStringLiteral("http://big"));
    QCOMPARE(v->thumbnailURL, QStringLiteral("http://medium"));
    QCOMPARE(v->videoDataURL, QStringLiteral("http://s/a.m3u8"));
    QCOMPARE(v->duration, 1500.7);
    // The id as an unsigned 32-bit number, as the video site numbers its pages.
    QCOMPARE(v->episodeLink(), QStringLiteral("https://video.example/video/%1").arg(quint32(2365000123u)));
    QCOMPARE(v->liverailId, 4242);
    QCOMPARE(v->program.programId(), QStringLiteral("77"));
    QCOMPARE(v->program.slug, QStringLiteral("arts-and-crafts"));
    QVERIFY(v->description().contains(QStringLiteral("title = Weaving;")));
    QVERIFY(v->description().contains(QStringLiteral("seekTime = (null);")));
}

void TestPlayerData::videoRecordEdgeCases_data()
{
    QTest::addColumn<QByteArray>("doc");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("videoId");
    const QByteArray files =
        R"("mediafiles": [{"video_encoding": {"name": "iPad-16x9"}, "video_data_url": "u"}])";
    QTest::newRow("empty type is Other")
        << QByteArray("{\"type\": \"\", " + files + "}") << true << 4 << QString();
    QTest::newRow("unknown type is Other")
        << QByteArray("{\"type\": \"Trailer\", " + files + "}") << true << 4 << QString();
    QTest::newRow("empty data URL") << QByteArray(R"({"mediafiles": [{"video_encoding": {"name": "iPad-16x9"},
                                                     "video_data_url": ""}]})")
                                    << false << 0 << QString();
    QTest::newRow("only unknown encodings")
        << QByteArray(R"({"mediafiles": [{"video_encoding": {"name": "MP4 800k"}, "video_data_url": "u"}]})")
        << false << 0 << QString();
    QTest::newRow("no media files") << QByteArray("{}") << false << 0 << QString();
    QTest::newRow("media files of wrong shape")
        << QByteArray(R"({"mediafiles": "x"})") << false << 0 << QString();
    QTest::newRow("short resource URI")
        << QByteArray("{\"resource_uri\": \"/videos/5/\", " + files + "}") << true << 4 << QString();
    QTest::newRow("six pieces") << QByteArray("{\"resource_uri\": \"/a/b/c/9/\", " + files + "}") << true << 4
                                << "9";
}

void TestPlayerData::videoRecordEdgeCases()
{
    QFETCH(QByteArray, doc);
    QFETCH(bool, exists);
    QFETCH(int, type);
    QFETCH(QString, videoId);
    const auto v = ZRPPlayerVideo::videoWithDictionary(json(doc));
    QCOMPARE(v.has_value(), exists);
    if (!v)
        return;
    QCOMPARE(int(v->type), type);
    QCOMPARE(v->videoId, videoId);
    QVERIFY(!v->mediaId);
    QVERIFY(v->episodeLink().isNull());
}

void TestPlayerData::mapHelpers()
{
    const QVariantMap m = json(R"({"a": "", "b": null, "c": {"d": "x", "e": ""}, "f": 0})");
    using namespace ZRPPlayerDictionary;
    QCOMPARE(valueForKey(m, "a", "def").toString(), QStringLiteral("def"));
    QCOMPARE(valueForKey(m, "b", "def").toString(), QStringLiteral("def"));
    QCOMPARE(valueForKey(m, "zz", "def").toString(), QStringLiteral("def"));
    QCOMPARE(valueForKey(m, "f", 9).toInt(), 0); // zero is a value
    QCOMPARE(valueForKeyPath(m, "c.d").toString(), QStringLiteral("x"));
    QCOMPARE(valueForKeyPath(m, "c.e", "def").toString(), QStringLiteral("def"));
    QCOMPARE(valueForKeyPath(m, "f.g", "def").toString(), QStringLiteral("def"));
    QVERIFY(!ZRPPlayerDateStringConversions::gmtDateFromString(QString(), "yyyy").isValid());
    QVERIFY(!ZRPPlayerDateStringConversions::gmtDateFromString("tomorrow", "yyyy-MM-dd HH:mm:ss").isValid());
}

void TestPlayerData::chapterTimes()
{
    const QVariantList results = QJsonDocument::fromJson(R"([{"segment_start_time": 1999},
        {"title": "no start"}, {"segment_start_time": 2000}, {"segment_start_time": "61000"},
        {"segment_start_time": ""}])")
                                     .toVariant()
                                     .toList();
    QCOMPARE(ZRPPlayerVexoDataProvider::chapterTimesFromResults(results), (QList<int>{1, 2, 61}));
}

void TestPlayerData::adItem_data()
{
    QTest::addColumn<QString>("duration");
    QTest::addColumn<float>("seconds");
    QTest::newRow("thirty") << "00:00:30" << 30.0f;
    QTest::newRow("fraction dropped") << "00:01:05.250" << 65.0f;
    QTest::newRow("hours") << "01:00:01" << 3601.0f;
    QTest::newRow("bare number") << "30" << 0.0f;
    QTest::newRow("two pieces") << "01:30" << 0.0f;
    QTest::newRow("not numbers") << "aa:bb:cc" << 0.0f;
    QTest::newRow("empty") << "" << 0.0f;
}

void TestPlayerData::adItem()
{
    QFETCH(QString, duration);
    QFETCH(float, seconds);
    const auto item = ZRPAdItem::adItemWithDictionary({{"adURL", "http://m/ad.mp4"}, {"Duration", duration}});
    QVERIFY(item);
    QCOMPARE(item->duration, seconds);
    QCOMPARE(item->playedCount, 0);
}

void TestPlayerData::adItemURLs()
{
    QVERIFY(!ZRPAdItem::adItemWithDictionary({{"clickURL", "http://c"}}));
    QVERIFY(!ZRPAdItem::adItemWithDictionary({{"adURL", "  \n\t "}}));
    const auto item = ZRPAdItem::adItemWithDictionary(
        {{"adURL", "\n\t\thttp://m/ad.mp4\n"},
         {"clickURL", " http://c/ "},
         {"Impressions", QStringList{"\n http://i/a b?x=1&y=%20z \n", "not a url", "http://i/\xc3\xa9"}},
         {"TrackingEvents", QVariantMap{{"midpoint", QStringList{"http://t/mid"}}}}});
    QVERIFY(item);
    QCOMPARE(item->adUrl, QStringLiteral("http://m/ad.mp4"));
    QCOMPARE(item->adClickUrl, QStringLiteral("http://c/"));
    QCOMPARE(item->impressions.size(), 2);
    QCOMPARE(item->impressions[0].toEncoded(), QByteArray("http://i/a%20b?x=1&y=%20z"));
    QCOMPARE(item->impressions[1].toEncoded(), QByteArray("http://i/%C3%A9"));
    QCOMPARE(item->trackingEvents.value("midpoint").value(0), QUrl("http://t/mid"));
    const ZRPAdItem plain = ZRPAdItem::adItemWithUrl("http://m/x", 600);
    QCOMPARE(plain.startTime, 600.0f);
    QVERIFY(plain.impressions.isEmpty());
}

void TestPlayerData::adRequestURL()
{
    ZRPPlayerVideo v;
    v.program.slug = "arts-and-crafts";
    v.nolaRoot = "ABC";
    v.nolaEpisode = "000123";
    v.mediaId = 555;
    QCOMPARE(
        ZRPPlayerLiveRailDataProvider::tags(v, "WXYZ"),
        QStringLiteral("program_zrp_arts_and_crafts,localstation_WXYZ,nolaroot_ABC,arts_and_crafts_000123"));
    Config::shared().setValue("liverail.base_url", "http://ads/");
    Config::shared().setValue("liverail.publisher_id", "1234");
    QCOMPARE(
        ZRPPlayerLiveRailDataProvider::adRequestURL(v, "WXYZ", "player-1"),
        QStringLiteral("http://ads/?LR_PUBLISHER_ID=1234&LR_SCHEMA=vast2&LR_TAGS=program_zrp_arts_and_crafts,"
                       "localstation_WXYZ,nolaroot_ABC,arts_and_crafts_000123&LR_FORMAT=video/mp4"
                       "&LR_VIDEO_ID=555&LR_VIDEO_AMID=player-1&LR_VERTICALS=program_zrp_arts_and_crafts"));
    v.liverailId = 9876;
    v.nolaRoot.clear();
    v.nolaEpisode.clear();
    const QString url = ZRPPlayerLiveRailDataProvider::adRequestURL(v, "WXYZ", "p");
    QVERIFY(url.startsWith(QStringLiteral("http://ads/?LR_PUBLISHER_ID=9876&")));
    QVERIFY(url.contains(QStringLiteral("LR_TAGS=program_zrp_arts_and_crafts,localstation_WXYZ&")));
}

void TestPlayerData::videosForMediaIdOverHTTP()
{
    m_server.on("/vexo/v1/videos/", [](const LoopbackServer::Request&) {
        return LoopbackServer::Answer(200, "{\"results\": [" + videoJson(1) + "," + videoJson(2, "MP4 800k") +
                                               "," + videoJson(3) + "]}");
    });
    auto r = std::make_shared<Results>();
    ZRPPlayerData::sharedInstance().videosForTPMediaId(
        "1",
        [r](const QList<ZRPPlayerVideo>& videos) {
            std::lock_guard lock(r->mutex);
            ++r->completions;
            r->videos = videos;
        },
        [r](const Error& e) {
            std::lock_guard lock(r->mutex);
            ++r->errors;
            r->error = e;
        });
    QTRY_COMPARE(r->count(), 1);
    QCOMPARE(r->completions, 1);
    QCOMPARE(r->videos.size(), 2); // the one without a fitting media file is skipped, order kept
    QCOMPARE(r->videos[0].mediaId.value_or(0), 1);
    QCOMPARE(r->videos[1].mediaId.value_or(0), 3);
    const auto sent = m_server.lastRequest();
    QVERIFY2(sent.target.startsWith("/vexo/v1/videos/?fields=mediafiles%2Cassociated_images%2Cproducer%2C"
                                    "program__associated_images&filter_tp_media_object_id=1&"),
             sent.target.constData());
    QVERIFY(sent.target.contains("mime_type=application%2Fx-mpegURL&timestamp="));
    QVERIFY(sent.target.contains("&consumer_key=ZRPVPAD-4348D2E8-CC98-4569-90F5-EEC5ACC6279C&signature="));
    QCOMPARE(ZRPPlayerData::sharedInstance().ongoingRequestCount(), 0);
}

void TestPlayerData::secondRequestReplacesStoredCallbacks()
{
    LoopbackServer::Answer held(200, R"({"results": [{"segment_start_time": 5000}]})");
    held.hold = true;
    m_server.enqueue("/vexo/v1/videos/", held);
    m_server.on("/vexo/v1/videos/",
                LoopbackServer::Answer(200, R"({"results": [{"segment_start_time": 7000}]})"));
    auto first = std::make_shared<Results>();
    auto second = std::make_shared<Results>();
    auto record = [](std::shared_ptr<Results> r) {
        return [r](const QList<int>& times) {
            std::lock_guard lock(r->mutex);
            ++r->completions;
            r->times = times;
        };
    };
    ZRPPlayerData::sharedInstance().chapterBreakTimesForVideoId("1", record(first), nullptr);
    QTRY_COMPARE(m_server.requestCount("/vexo/v1/videos/"), 1);
    ZRPPlayerData::sharedInstance().chapterBreakTimesForVideoId("2", record(second), nullptr);
    QTRY_COMPARE(second->count(), 1);
    QCOMPARE(second->times, QList<int>{7});
    m_server.releaseHeld();
    QTRY_COMPARE(m_server.activeCount(), 0);
    WorkQueue::waitForConcurrentIdle();
    QCoreApplication::processEvents();
    WorkQueue::waitForConcurrentIdle();
    QCOMPARE(first->count(), 0);
}

void TestPlayerData::serveAds()
{
    // Position 600 answers no InLine ad; every other position one ad named after it.
    m_server.on("/liverail/", [](const LoopbackServer::Request& r) {
        const QUrlQuery q(QString::fromLatin1(r.target.mid(r.target.indexOf('?') + 1)));
        const QString position = q.queryItemValue("LR_VIDEO_POSITION");
        if (position == "600")
            return LoopbackServer::Answer(200, "<VAST version=\"2.0\"/>");
        return LoopbackServer::Answer(
            200, "<VAST><Ad><InLine><Impression><![CDATA[http://i/" + position.toLatin1() +
                     "]]></Impression><Creatives><Creative><Linear><Duration>00:00:15"
                     "</Duration><MediaFiles><MediaFile bitrate=\"500\"><![CDATA[http://m/" +
                     position.toLatin1() +
                     ".mp4]]></MediaFile></MediaFiles></Linear></Creative></Creatives>"
                     "</InLine></Ad></VAST>");
    });
}

void TestPlayerData::adTimesAskedOneAfterAnother()
{
    serveAds();
    LoopbackServer::Answer held =
        LoopbackServer::Answer(200, "<VAST><Ad><InLine><MediaFiles><MediaFile bitrate=\"1\">"
                                    "<![CDATA[http://m/0.mp4]]></MediaFile></MediaFiles>"
                                    "</InLine></Ad></VAST>");
    held.hold = true;
    m_server.enqueue("/liverail/", held);
    ZRPPlayerVideo v;
    v.program.slug = "arts-and-crafts";
    v.mediaId = 7;
    auto r = std::make_shared<Results>();
    ZRPPlayerData::sharedInstance().adsForVideo(
        v, {0, 600, 1200}, "WXYZ", "p1",
        [r](const QList<ZRPAdItem>& ads) {
            std::lock_guard lock(r->mutex);
            ++r->completions;
            r->ads = ads;
        },
        [r](const Error&) {
            std::lock_guard lock(r->mutex);
            ++r->errors;
        });
    QTRY_COMPARE(m_server.requestCount("/liverail/"), 1);
    // The first answer is held: nothing further is asked meanwhile. A probe request that makes
    // a full round trip shows the provider had every chance to send one.
    auto probeWrapper = ZRPAPIWrapper::wrapperOfType(ZRPAPITypeSearch, {});
    m_server.on("/probe", LoopbackServer::Answer(200, "[]"));
    auto probe = std::make_shared<Results>();
    probeWrapper->getDataFromUrl(
        m_server.url("/probe").toString(),
        [probe](const QVariant&) {
            std::lock_guard lock(probe->mutex);
            ++probe->completions;
        },
        nullptr, "probe");
    QTRY_COMPARE(probe->count(), 1);
    QCOMPARE(m_server.requestCount("/liverail/"), 1);
    m_server.releaseHeld();
    QTRY_COMPARE(r->count(), 1);
    QCOMPARE(r->completions, 1);
    QStringList positions;
    for (const auto& req : m_server.requests()) {
        if (req.path == "/liverail/")
            positions << QUrlQuery(QString::fromLatin1(req.target.mid(req.target.indexOf('?') + 1)))
                             .queryItemValue("LR_VIDEO_POSITION");
    }
    QCOMPARE(positions, (QStringList{"0", "600", "1200"}));
    QCOMPARE(r->ads.size(), 2); // position 600 had no ad
    QCOMPARE(r->ads[0].adUrl, QStringLiteral("http://m/0.mp4"));
    QCOMPARE(r->ads[0].startTime, 0.0f);
    QCOMPARE(r->ads[1].adUrl, QStringLiteral("http://m/1200.mp4"));
    QCOMPARE(r->ads[1].startTime, 1200.0f);
    QCOMPARE(r->ads[1].duration, 15.0f);
    QCOMPARE(r->ads[1].impressions.value(0), QUrl("http://i/1200"));
    // The query travelled escaped.
    const QByteArray target = m_server.requests().first().target;
    QVERIFY2(target.contains("LR_TAGS=program_zrp_arts_and_crafts%2Clocalstation_WXYZ&LR_FORMAT=video%2Fmp4"),
             target.constData());
}

void TestPlayerData::errorAtSecondPositionFailsTheWholeRequest()
{
    serveAds();
    m_server.enqueue("/liverail/", LoopbackServer::Answer(200, "<VAST/>"));
    m_server.enqueue("/liverail/", LoopbackServer::Answer(500, "ad server down"));
    ZRPPlayerVideo v;
    auto r = std::make_shared<Results>();
    ZRPPlayerData::sharedInstance().adsForVideo(
        v, {0, 300, 900}, "WXYZ", "p1",
        [r](const QList<ZRPAdItem>&) {
            std::lock_guard lock(r->mutex);
            ++r->completions;
        },
        [r](const Error& e) {
            std::lock_guard lock(r->mutex);
            ++r->errors;
            r->error = e;
        });
    QTRY_COMPARE(r->count(), 1);
    QCOMPARE(r->errors, 1);
    QCOMPARE(r->error.code, 500);
    QCOMPARE(m_server.requestCount("/liverail/"), 2); // the third position is never asked
}

void TestPlayerData::cancelDuringFirstPositionReportsNothing()
{
    serveAds();
    LoopbackServer::Answer held(200, "<VAST/>");
    held.hold = true;
    m_server.enqueue("/liverail/", held);
    ZRPPlayerVideo v;
    auto r = std::make_shared<Results>();
    ZRPPlayerData::sharedInstance().adsForVideo(
        v, {0, 600}, "WXYZ", "p1",
        [r](const QList<ZRPAdItem>&) {
            std::lock_guard lock(r->mutex);
            ++r->completions;
        },
        [r](const Error&) {
            std::lock_guard lock(r->mutex);
            ++r->errors;
        });
    QTRY_COMPARE(m_server.requestCount("/liverail/"), 1);
    ZRPPlayerData::sharedInstance().cancelRequests();
    QCOMPARE(ZRPPlayerData::sharedInstance().ongoingRequestCount(), 0);
    m_server.releaseHeld();
    QTRY_COMPARE(m_server.activeCount(), 0);
    WorkQueue::waitForConcurrentIdle();
    QCoreApplication::processEvents();
    WorkQueue::waitForConcurrentIdle();
    QCOMPARE(r->count(), 0);
    QCOMPARE(m_server.requestCount("/liverail/"), 1);
}

void TestPlayerData::adsForVideoWithoutTimesDoesNothing()
{
    bool called = false;
    ZRPPlayerData::sharedInstance().adsForVideo(
        ZRPPlayerVideo(), {}, "WXYZ", "p", [&](const QList<ZRPAdItem>&) { called = true; },
        [&](const Error&) { called = true; });
    QCOMPARE(ZRPPlayerData::sharedInstance().ongoingRequestCount(), 0);
    QCOMPARE(m_server.requestCount(), 0);
    QVERIFY(!called);
}

void TestPlayerData::sessionIdIsStable()
{
    const QString id = ZRPPlayerData::sharedInstance().sessionId();
    QVERIFY(!id.isEmpty());
    QCOMPARE(ZRPPlayerData::sharedInstance().sessionId(), id);
}

QTEST_GUILESS_MAIN(TestPlayerData)
#include "test_player_data.moc"
