#include "LoopbackServer.h"
#include "SandboxControl.h"
#include "SandboxServer.h"
#include "catalog/VEXOClientAPI.h"
#include "catalog/VEXOEpisode.h"
#include "catalog/VEXOProgram.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/NotificationCenter.h"
#include "core/Text.h"
#include "net/DownloadCache.h"
#include "net/HttpClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

using namespace zrp;
using zrp::test::LoopbackServer;

namespace {

const QString kHLS = QStringLiteral("application/x-mpegURL");

QJsonObject image(const QString& usage, const QString& url)
{
    return QJsonObject{{"url", url}, {"type", QJsonObject{{"usage_type", usage}}}};
}

QJsonObject mediaFile(const QString& name, const QString& url, qint64 lengthMs, const QString& mime = kHLS)
{
    return QJsonObject{{"video_encoding", QJsonObject{{"mime_type", mime}, {"name", name}}},
                       {"video_data_url", url},
                       {"length_mseconds", lengthMs}};
}

QJsonObject programJson(const QString& id = QStringLiteral("123"),
                        const QString& producer = QStringLiteral("ZRP"))
{
    return QJsonObject{
        {"resource_uri", QStringLiteral("/vexo/v1/programs/%1/").arg(id)},
        {"title", QStringLiteral("Harbor Lights")},
        {"short_description", QStringLiteral("Boats at night.")},
        {"long_description", QJsonValue::Null},
        {"nola_root", QStringLiteral("HBLT")},
        {"website", QStringLiteral("https://harbor.example/")},
        {"shop_url", QStringLiteral("https://shop.example/harbor")},
        {"associated_images", QJsonArray{image("iPad-Large", "https://img.example/p;large.png"),
                                         image("iPhone-Medium", "https://img.example/p-medium.png")}},
        {"producer", QJsonObject{{"name", producer}}},
    };
}

QJsonObject videoJson(const QString& id = QStringLiteral("501"))
{
    return QJsonObject{
        {"resource_uri", QStringLiteral("/vexo/v1/videos/%1/").arg(id)},
        {"title", QStringLiteral("The Night Ferry")},
        {"short_description", QStringLiteral("Crossing.")},
        {"long_description", QStringLiteral("A long crossing.")},
        {"tp_media_object_id", 2365001234LL},
        {"nola_episode", 104},
        {"nola_root", QStringLiteral("HBLT")},
        {"type", QStringLiteral("Episode")},
        {"gated_content", 1},
        {"availability", QStringLiteral("Available")},
        {"airdate", QStringLiteral("2025-12-30 20:00:00")},
        {"expire_datetime", QStringLiteral("2026-02-01 06:30:00")},
        {"itunes_link", QStringLiteral("https://store.example/v501")},
        {"buy_dvd_link", QString()},
        {"associated_images", QJsonArray{image("iPad-Small", "https://img.example/v-small.png"),
                                         image("iPhone-Medium", "https://img.example/v;medium.png")}},
        {"mediafiles", QJsonArray{mediaFile("iPad-16x9", "https://media.example/501.m3u8?a=1", 1619999)}},
        {"is_segment", false},
        {"program", programJson()},
        {"producer", QJsonObject{{"name", QStringLiteral("ZRP")}}},
    };
}

QByteArray resultsBody(const QJsonArray& results)
{
    return QJsonDocument(QJsonObject{{"results", results}}).toJson(QJsonDocument::Compact);
}

class Recorder : public QObject, public VEXOClientAPIDelegate
{
public:
    QList<QPair<QString, VEXOResults>> found;
    QList<QPair<QString, Error>> failed;
    std::function<void()> onCallback;

    void didFindResults(const QString& requestId, const VEXOResults& results) override
    {
        found.append({requestId, results});
        if (onCallback)
            onCallback();
    }
    void didFail(const QString& requestId, const Error& error) override
    {
        failed.append({requestId, error});
        if (onCallback)
            onCallback();
    }
    int calls() const { return int(found.size() + failed.size()); }
};

using test::fetch;

} // namespace

class TestCatalog : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<DownloadCache> m_cache;
    std::unique_ptr<SandboxServer> m_sandbox;
    // One scripted server for the whole run: stopping one waits out its keep-alive connections.
    std::unique_ptr<LoopbackServer> m_loop;
    QString m_sandboxCatalog;
    QList<Notification> m_failures;

    void useSandbox() { Config::shared().setValue(QStringLiteral("catalog.base_url"), m_sandboxCatalog); }
    void useLoopback(const LoopbackServer& server)
    {
        Config::shared().setValue(QStringLiteral("catalog.base_url"),
                                  server.url(QStringLiteral("/vexo/v1/")).toString());
    }
    QUrl sandboxURL(const QString& path) const { return QUrl(m_sandbox->baseUrl().toString() + path); }

    QJsonArray sandboxCatalogLog()
    {
        const HttpResponse r = fetch(sandboxURL(QStringLiteral("/_sandbox/requests?prefix=/vexo/v1/")));
        return QJsonDocument::fromJson(r.body).object().value(QLatin1String("requests")).toArray();
    }
    void addFault(const QJsonObject& order)
    {
        QString error;
        QVERIFY2(m_sandbox->addFault(QString::fromUtf8(QJsonDocument(order).toJson(QJsonDocument::Compact)),
                                     &error),
                 qPrintable(error));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_cache = std::make_unique<DownloadCache>(m_dir.filePath(QStringLiteral("http-cache")));
        HttpClient::shared().setCache(m_cache.get());
        m_sandbox = std::make_unique<SandboxServer>(SandboxOptions{});
        QString error;
        QVERIFY2(m_sandbox->start(&error), qPrintable(error));
        m_sandboxCatalog = m_sandbox->baseUrl().toString() + QStringLiteral("/vexo/v1/");
        m_loop = std::make_unique<LoopbackServer>();
        NotificationCenter::defaultCenter().addObserver(
            this, VEXOClientAPI::kFailedRequestNotification,
            [this](const Notification& n) { m_failures.append(n); });
    }

    void cleanupTestCase()
    {
        NotificationCenter::defaultCenter().removeObserver(this);
        HttpClient::shared().setCache(nullptr);
        m_loop.reset();
        m_sandbox.reset();
    }

    void init()
    {
        m_cache->clear();
        m_failures.clear();
        fetch(sandboxURL(QStringLiteral("/_sandbox/reset")), "POST");
        m_loop->releaseHeld();
        m_loop->reset();
        Config::shared().resetToDefaults();
        useSandbox();
        VEXOClientAPI::setDeviceForTesting(Device::IdiomPad, false);
        VEXOClientAPI::setUseQAKeys(false);
    }

    void cleanup()
    {
        Clock::setShared(nullptr);
        VEXOClientAPI::setDeviceForTesting(std::nullopt, std::nullopt);
    }

    // ---------------------------------------------------------------- records

    void renditionChoice_data()
    {
        QTest::addColumn<bool>("tablet");
        QTest::addColumn<bool>("segment");
        QTest::addColumn<QString>("files"); // "!" marks a file that is not HLS
        QTest::addColumn<int>("chosen");    // index; -1 no record; -2 a record without a stream

        QTest::newRow("4x3 beats both 16x9 phone files")
            << true << false << "iPhone-16x9,iPad-4x3,iPhone-16x9" << 1;
        QTest::newRow("iPad-16x9 ends the walk") << true << false << "iPhone-16x9,iPad-16x9,iPad-4x3" << 1;
        QTest::newRow("later 4x3 wins") << true << false << "iPad-4x3,iPad-4x3" << 1;
        QTest::newRow("phone 16x9 over first file") << true << false << "iPhone-4x3,iPhone-16x9" << 1;
        QTest::newRow("phone 16x9 never over 4x3") << true << false << "iPad-4x3,iPhone-16x9" << 0;
        QTest::newRow("first file when nothing ranks") << true << false << "iPhone-4x3,iPhone-4x3" << 0;
        QTest::newRow("non-HLS skipped") << true << false << "!iPad-16x9,iPhone-4x3" << 1;
        QTest::newRow("only non-HLS: dropped") << true << false << "!iPad-16x9" << -1;
        QTest::newRow("no files: dropped") << true << false << "" << -1;
        QTest::newRow("segment without stream kept") << true << true << "!iPad-16x9" << -2;
        QTest::newRow("phone: iPhone-16x9 first rank")
            << false << false << "iPad-16x9,iPhone-16x9,iPad-4x3" << 1;
        QTest::newRow("phone: iPad-16x9 is third") << false << false << "iPad-4x3,iPad-16x9" << 0;
        QTest::newRow("phone: iPad-16x9 over first") << false << false << "iPhone-4x3,iPad-16x9" << 1;
    }

    void renditionChoice()
    {
        QFETCH(bool, tablet);
        QFETCH(bool, segment);
        QFETCH(QString, files);
        QFETCH(int, chosen);
        VEXOClientAPI::setDeviceForTesting(tablet ? Device::IdiomPad : Device::IdiomPhone, false);

        QJsonArray list;
        const QStringList names = files.isEmpty() ? QStringList() : files.split(QLatin1Char(','));
        for (int i = 0; i < names.size(); ++i) {
            QString name = names.at(i);
            const bool hls = !name.startsWith(QLatin1Char('!'));
            name.remove(QLatin1Char('!'));
            list.append(mediaFile(name, QStringLiteral("https://media.example/f%1.m3u8?s=1").arg(i),
                                  (i + 1) * 1000 + 999, hls ? kHLS : QStringLiteral("video/mp4")));
        }
        QJsonObject v = videoJson();
        v["mediafiles"] = list;
        v["is_segment"] = segment;
        const std::optional<VEXOEpisode> e = VEXOEpisode::episodeWithDictionary(v);
        if (chosen == -1) {
            QVERIFY(!e);
            return;
        }
        QVERIFY(e);
        if (chosen == -2) {
            QVERIFY(!e->videoDataURL());
            QVERIFY(!e->program()); // segments carry no program
            return;
        }
        const QString device = tablet ? QStringLiteral("iPad") : QStringLiteral("iPhone");
        QCOMPARE(e->videoDataURL().value_or(QString()),
                 QStringLiteral("https://media.example/f%1.m3u8?s=1&player=%2-%3")
                     .arg(chosen)
                     .arg(device, Bundle::version()));
        QCOMPARE(e->duration(), chosen + 1); // milliseconds / 1000, toward zero
    }

    void imageChoice_data()
    {
        QTest::addColumn<int>("idiom");
        QTest::addColumn<bool>("retina");
        QTest::addColumn<QString>("usages");
        QTest::addColumn<QString>("image"); // usage whose URL is chosen; "" none
        QTest::addColumn<QString>("thumbnail");

        const QString all = QStringLiteral("iPad-Small,iPhone-Small,iPad-Large,iPhone-Medium");
        QTest::newRow("tablet") << int(Device::IdiomPad) << false << all << "iPad-Large"
                                << "iPhone-Medium";
        QTest::newRow("scale-2 phone") << int(Device::IdiomPhone) << true << all << "iPhone-Medium"
                                       << "iPad-Large";
        QTest::newRow("other phone") << int(Device::IdiomPhone) << false << all << "iPhone-Small"
                                     << "iPhone-Medium";
        QTest::newRow("tablet, fallbacks") << int(Device::IdiomPad) << false << "iPad-Small,iPhone-Small"
                                           << "iPad-Small"
                                           << "iPad-Small";
        QTest::newRow("tablet, only small phone") << int(Device::IdiomPad) << false << "iPhone-Small"
                                                  << ""
                                                  << "iPhone-Small";
        QTest::newRow("nothing usable") << int(Device::IdiomPad) << false << "Banner"
                                        << ""
                                        << "";
    }

    void imageChoice()
    {
        QFETCH(int, idiom);
        QFETCH(bool, retina);
        QFETCH(QString, usages);
        QFETCH(QString, image);
        QFETCH(QString, thumbnail);
        VEXOClientAPI::setDeviceForTesting(idiom, retina);

        QJsonArray images;
        for (const QString& usage : usages.split(QLatin1Char(',')))
            images.append(::image(usage, QStringLiteral("https://img.example/%1;x.png").arg(usage)));
        QJsonObject p = programJson();
        p["associated_images"] = images;
        QJsonObject v = videoJson();
        v["associated_images"] = images;

        const VEXOProgram program = VEXOProgram::programWithDictionary(p);
        const std::optional<VEXOEpisode> episode = VEXOEpisode::episodeWithDictionary(v);
        QVERIFY(episode);
        // Programs drop ";" from their image addresses and use "" for none; videos keep the
        // address and use none.
        const auto programURL = [](const QString& usage) {
            return usage.isEmpty() ? QString() : QStringLiteral("https://img.example/%1x.png").arg(usage);
        };
        const auto videoURL = [](const QString& usage) -> std::optional<QString> {
            if (usage.isEmpty())
                return std::nullopt;
            return QStringLiteral("https://img.example/%1;x.png").arg(usage);
        };
        QCOMPARE(program.imageURL(), programURL(image));
        QCOMPARE(program.thumbnailURL(), programURL(thumbnail));
        QCOMPARE(episode->imageURL(), videoURL(image));
        QCOMPARE(episode->thumbnailURL(), videoURL(thumbnail));
    }

    void laterImageOfSameUsageWins()
    {
        QJsonObject p = programJson();
        p["associated_images"] =
            QJsonArray{image("iPad-Large", "https://img.example/first.png"), QJsonValue(7),
                       image("iPad-Large", "https://img.example/second.png")};
        QCOMPARE(VEXOProgram::programWithDictionary(p).imageURL(),
                 QStringLiteral("https://img.example/second.png"));
    }

    void programFields_data()
    {
        QTest::addColumn<QJsonValue>("resourceURI");
        QTest::addColumn<QJsonValue>("producer");
        QTest::addColumn<QString>("programId"); // "-" none
        QTest::addColumn<bool>("local");

        const QJsonValue zrp = QJsonObject{{"name", "ZRP"}};
        QTest::newRow("id at index 4") << QJsonValue("/vexo/v1/programs/123/") << zrp << "123" << false;
        QTest::newRow("no trailing slash") << QJsonValue("/vexo/v1/programs/123") << zrp << "-" << false;
        QTest::newRow("missing uri") << QJsonValue(QJsonValue::Undefined) << zrp << "-" << false;
        QTest::newRow("uri of wrong type") << QJsonValue(QJsonArray{1}) << zrp << "-" << false;
        QTest::newRow("producer null")
            << QJsonValue("/vexo/v1/programs/9/") << QJsonValue(QJsonValue::Null) << "9" << false;
        QTest::newRow("station producer")
            << QJsonValue("/vexo/v1/programs/9/") << QJsonValue(QJsonObject{{"name", "KXZR"}}) << "9" << true;
        QTest::newRow("producer name null")
            << QJsonValue("/vexo/v1/programs/9/") << QJsonValue(QJsonObject{{"name", QJsonValue::Null}})
            << "9" << false;
        QTest::newRow("producer is a list")
            << QJsonValue("/vexo/v1/programs/9/") << QJsonValue(QJsonArray{QJsonObject{{"name", "KXZR"}}})
            << "9" << false;
    }

    void programFields()
    {
        QFETCH(QJsonValue, resourceURI);
        QFETCH(QJsonValue, producer);
        QFETCH(QString, programId);
        QFETCH(bool, local);
        QJsonObject p = programJson();
        p.remove("resource_uri");
        if (!resourceURI.isUndefined())
            p["resource_uri"] = resourceURI;
        p["producer"] = producer;
        const VEXOProgram program = VEXOProgram::programWithDictionary(p);
        QCOMPARE(program.programId().value_or(QStringLiteral("-")), programId);
        QCOMPARE(program.isLocalProgram(), local);
        QCOMPARE(program.programDictionary(), QCborMap::fromJsonObject(p));
    }

    void programTextsAndLinks()
    {
        QJsonObject p = programJson();
        VEXOProgram program = VEXOProgram::programWithDictionary(p);
        QCOMPARE(program.title(), QStringLiteral("Harbor Lights"));
        QCOMPARE(program.longDescription(), QString()); // null becomes ""
        QCOMPARE(program.website(), std::optional<QString>(QStringLiteral("https://harbor.example/")));
        QCOMPARE(program.buyLinks(),
                 (QMap<QString, QString>{{"Visit the program shop", "https://shop.example/harbor"}}));

        p["shop_url"] = QString();
        p["website"] = QJsonValue::Null;
        p["title"] = QJsonArray{"not", "a", "title"};
        p["nola_root"] = 42;
        program = VEXOProgram::programWithDictionary(p);
        QVERIFY(program.buyLinks().isEmpty());
        QVERIFY(!program.website());
        QCOMPARE(program.title(), QString());
        QCOMPARE(program.nolaRoot(), std::optional<QString>(QStringLiteral("42")));
    }

    void episodeFields()
    {
        VEXOClientAPI::setDeviceForTesting(Device::IdiomPad, false);
        const std::optional<VEXOEpisode> e = VEXOEpisode::episodeWithDictionary(videoJson());
        QVERIFY(e);
        QCOMPARE(e->title(), std::optional<QString>(QStringLiteral("The Night Ferry")));
        QCOMPARE(e->resourceURI(), QStringLiteral("/vexo/v1/videos/501/"));
        QCOMPARE(e->mediaID(), QStringLiteral("2365001234"));
        QCOMPARE(e->nolaEpisode(), QStringLiteral("104"));
        QCOMPARE(e->videoType(), QStringLiteral("Episode"));
        QCOMPARE(e->gatedContent(), 1);
        QCOMPARE(e->airdate(),
                 std::optional<QDateTime>(QDateTime(QDate(2025, 12, 30), QTime(20, 0), Qt::UTC)));
        QCOMPARE(e->expires(), std::optional<QDateTime>(QDateTime(QDate(2026, 2, 1), QTime(6, 30), Qt::UTC)));
        QCOMPARE(e->buyLinks(),
                 (QMap<QString, QString>{{"Buy this video on iTunes", "https://store.example/v501"}}));
        QCOMPARE(e->duration(), 1619);
        QVERIFY(!e->isSegment());
        QVERIFY(e->program());
        QCOMPARE(e->program()->title(), QStringLiteral("Harbor Lights"));
        QVERIFY(!e->program()->isLocalProgram());
        QVERIFY(!e->seekTime());
        QVERIFY(!e->lastWatched());
        QCOMPARE(e->episodeDictionary(), QCborMap::fromJsonObject(videoJson()));

        // A station's video makes its program local, whatever the program's own producer says.
        QJsonObject v = videoJson();
        v["producer"] = QJsonObject{{"name", "KXZR"}};
        QVERIFY(VEXOEpisode::episodeWithDictionary(v)->program()->isLocalProgram());

        // Missing optional fields read as their defaults.
        for (const char* key :
             {"type", "gated_content", "nola_episode", "tp_media_object_id", "title", "airdate"})
            v.remove(QLatin1String(key));
        const std::optional<VEXOEpisode> bare = VEXOEpisode::episodeWithDictionary(v);
        QVERIFY(bare);
        QCOMPARE(bare->videoType(), QStringLiteral("Clip"));
        QCOMPARE(bare->gatedContent(), 0);
        QCOMPARE(bare->nolaEpisode(), QStringLiteral("0"));
        QCOMPARE(bare->mediaID(), QString());
        QVERIFY(!bare->title());
        QVERIFY(!bare->airdate());
        QCOMPARE(bare->episodeLink(), QStringLiteral("https://video.zrp.example/video/"));
        QCOMPARE(e->episodeLink(), QStringLiteral("https://video.zrp.example/video/2365001234"));
    }

    // Fields of the wrong JSON type never reach a record: they read as missing.
    void episodeFieldsOfWrongType_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<bool>("builds");

        QTest::newRow("airdate not a date") << "airdate" << QJsonValue("2025-13-40 25:61:00") << true;
        QTest::newRow("airdate ISO form") << "airdate" << QJsonValue("2025-12-30T20:00:00Z") << true;
        QTest::newRow("airdate a number") << "airdate" << QJsonValue(1767124800) << true;
        QTest::newRow("title an object") << "title" << QJsonValue(QJsonObject{{"a", 1}}) << true;
        QTest::newRow("media id as text") << "tp_media_object_id" << QJsonValue("2365001234") << true;
        QTest::newRow("gated as text") << "gated_content" << QJsonValue("1") << true;
        QTest::newRow("gated a list") << "gated_content" << QJsonValue(QJsonArray{1}) << true;
        QTest::newRow("program a list") << "program" << QJsonValue(QJsonArray{}) << true;
        QTest::newRow("images an object") << "associated_images" << QJsonValue(QJsonObject{}) << true;
        QTest::newRow("mediafiles an object") << "mediafiles" << QJsonValue(QJsonObject{}) << false;
        QTest::newRow("mediafiles of numbers") << "mediafiles" << QJsonValue(QJsonArray{1, 2}) << false;
        QTest::newRow("expired") << "availability" << QJsonValue("Expired") << false;
    }

    void episodeFieldsOfWrongType()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(bool, builds);
        QJsonObject v = videoJson();
        v[key] = value;
        const std::optional<VEXOEpisode> e = VEXOEpisode::episodeWithDictionary(v);
        QCOMPARE(e.has_value(), builds);
        if (!e)
            return;
        if (key == QLatin1String("airdate"))
            QVERIFY(!e->airdate());
        if (key == QLatin1String("title"))
            QVERIFY(!e->title());
        if (key == QLatin1String("tp_media_object_id"))
            QCOMPARE(e->mediaID(), QStringLiteral("2365001234"));
        if (key == QLatin1String("gated_content"))
            QCOMPARE(e->gatedContent(), value.isString() ? 1 : 0);
        if (key == QLatin1String("program"))
            QVERIFY(!e->program());
        if (key == QLatin1String("associated_images"))
            QVERIFY(!e->imageURL() && !e->thumbnailURL());
    }

    void expiry_data()
    {
        QTest::addColumn<double>("daysLeft"); // NaN: no expiry date
        QTest::addColumn<int>("window");
        QTest::addColumn<bool>("expiring");

        QTest::newRow("10 days of 7") << 10.0 << 7 << true;
        QTest::newRow("11 days of 7") << 11.0 << 7 << false;
        QTest::newRow("10.4 days of 7") << 10.4 << 7 << true;
        QTest::newRow("10.6 days of 7") << 10.6 << 7 << false;
        QTest::newRow("already expired") << -3.0 << 7 << true;
        QTest::newRow("1.4 days of 1") << 1.4 << 1 << true;
        QTest::newRow("1.6 days of 1") << 1.6 << 1 << false;
        QTest::newRow("no expiry") << qQNaN() << 7 << false;
        QTest::newRow("window 0, future") << 2.0 << 0 << false;
        QTest::newRow("window 0, past") << -0.5 << 0 << true;
    }

    void expiry()
    {
        QFETCH(double, daysLeft);
        QFETCH(int, window);
        QFETCH(bool, expiring);
        VirtualClock clock(QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC));
        VirtualClock::Scope scope(clock);
        QJsonObject v = videoJson();
        if (qIsNaN(daysLeft))
            v.remove("expire_datetime");
        else
            v["expire_datetime"] =
                clock.now().addSecs(qint64(daysLeft * 86400)).toString("yyyy-MM-dd HH:mm:ss");
        QCOMPARE(VEXOEpisode::episodeWithDictionary(v)->expiresInNumberOfDays(window), expiring);
    }

    void comparisons()
    {
        auto episode = [](const QString& id, const QJsonValue& airdate, const QString& programTitle) {
            QJsonObject v = videoJson(id);
            v["airdate"] = airdate;
            QJsonObject p = programJson();
            p["title"] = programTitle;
            v["program"] = p;
            return *VEXOEpisode::episodeWithDictionary(v);
        };
        QList<VEXOEpisode> list{
            episode("1", "2025-01-01 00:00:00", "beta"), episode("2", QJsonValue::Null, "Alpha"),
            episode("3", "2026-01-01 00:00:00", "alpha"), episode("4", "garbage", "Gamma"),
            episode("5", "2025-06-01 00:00:00", "BETA")};
        // Newest first; undated videos last. A consistent ordering, so std::sort is safe with it.
        std::sort(list.begin(), list.end(),
                  [](const VEXOEpisode& a, const VEXOEpisode& b) { return a.compareAirdateDesc(b) < 0; });
        QStringList order;
        for (const VEXOEpisode& e : list)
            order << e.resourceURI().section(QLatin1Char('/'), 4, 4);
        QCOMPARE(order.mid(0, 3), (QStringList{"3", "5", "1"}));
        QCOMPARE(list.at(3).compareAirdateDesc(list.at(4)), 0);

        QCOMPARE(episode("1", QJsonValue::Null, "beta")
                     .compareProgramTitle(episode("2", QJsonValue::Null, "BETA")),
                 0);
        QVERIFY(episode("1", QJsonValue::Null, "alpha")
                    .compareProgramTitle(episode("2", QJsonValue::Null, "Beta")) < 0);

        QJsonObject a = programJson("1"), b = programJson("1"), c = programJson("2");
        a["title"] = "beta";
        b["title"] = "Beta";
        const VEXOProgram pa = VEXOProgram::programWithDictionary(a),
                          pb = VEXOProgram::programWithDictionary(b),
                          pc = VEXOProgram::programWithDictionary(c);
        QVERIFY(pa == pb); // same resource URI
        QCOMPARE(qHash(pa), qHash(pb));
        QVERIFY(pa != pc);
        QVERIFY(pb.compare(pa) < 0); // case-sensitive: upper case first
        QJsonObject noURI = programJson();
        noURI.remove("resource_uri");
        QVERIFY(VEXOProgram::programWithDictionary(noURI) != VEXOProgram::programWithDictionary(noURI));
    }

    void historyEntryRebuilds()
    {
        VirtualClock clock(QDateTime(QDate(2026, 1, 7), QTime(18, 45, 10), Qt::UTC));
        VirtualClock::Scope scope(clock);
        const VEXOEpisode original = *VEXOEpisode::episodeWithDictionary(videoJson());
        QCborMap entry = original.episodeDictionary();
        VEXOEpisode::addSeekTimeToDictionary(734, entry);
        QVERIFY(entry.value(QLatin1String("last_watched")).isDateTime());

        // Through its archive form and back, as the history store keeps it.
        const QCborMap stored = QCborValue::fromCbor(QCborValue(entry).toCbor()).toMap();
        const std::optional<VEXOEpisode> rebuilt = VEXOEpisode::episodeWithDictionary(stored);
        QVERIFY(rebuilt);
        QCOMPARE(rebuilt->seekTime(), std::optional<int>(734));
        QCOMPARE(rebuilt->lastWatched(), std::optional<QDateTime>(clock.now()));
        QCOMPARE(rebuilt->resourceURI(), original.resourceURI());
        QCOMPARE(rebuilt->videoDataURL(), original.videoDataURL());
        QCOMPARE(rebuilt->airdate(), original.airdate());
        QCOMPARE(rebuilt->program()->title(), original.program()->title());
        QCborMap withoutExtras = rebuilt->episodeDictionary();
        withoutExtras.remove(QLatin1String("seek_time"));
        withoutExtras.remove(QLatin1String("last_watched"));
        QCOMPARE(withoutExtras, original.episodeDictionary());
    }

    // ---------------------------------------------------------------- signing

    void canonicalQuery_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("canonical");

        QTest::newRow("comma escaped, order kept")
            << "fields=associated_images,producer&filter_slug=sample"
            << "fields=associated_images%2Cproducer&filter_slug=sample";
        QTest::newRow("%20 becomes +") << "filter_name=Prime%20Time"
                                       << "filter_name=Prime+Time";
        QTest::newRow("upper case sorts first") << "b=1&a=2&B=3&A=4"
                                                << "A=4&B=3&a=2&b=1";
        QTest::newRow("existing escape escaped again") << "filter_id__in=1%2C2"
                                                       << "filter_id__in=1%252C2";
        QTest::newRow("reserved characters") << "q=!*'();:@$,/?#[]"
                                             << "q=%21%2A%27%28%29%3B%3A%40%24%2C%2F%3F%23%5B%5D";
        QTest::newRow("UTF-8 bytes, raw blank")
            << QStringLiteral("filter_slug=caf\u00e9 bar") << "filter_slug=caf%C3%A9%20bar";
        QTest::newRow("kept marks") << "x=a-b_c.d~e+f"
                                    << "x=a-b_c.d~e+f";
    }

    void canonicalQuery()
    {
        QFETCH(QString, query);
        QFETCH(QString, canonical);
        QCOMPARE(VEXOClientAPI::canonicalQuery(query), canonical);
    }

    void signedRequest()
    {
        VirtualClock clock(QDateTime::fromSecsSinceEpoch(1767225600, Qt::UTC));
        VirtualClock::Scope scope(clock);
        const QString base = QStringLiteral("https://catalog.example/vexo/v1/");
        const HttpRequest r = VEXOClientAPI::requestSignedWithURL(
            base + QStringLiteral("programs/?fields=associated_images,producer&filter_slug=sample"),
            QStringLiteral("KEY-1"), QStringLiteral("secret"));
        const QString expectedURL =
            base + QStringLiteral("programs/?fields=associated_images%2Cproducer&filter_slug=sample");
        QCOMPARE(r.url.toString(QUrl::FullyEncoded), expectedURL);
        QCOMPARE(r.method, QByteArray("GET"));
        QCOMPARE(r.header("X-ZRPAuth-Timestamp"), QByteArray("1767225600"));
        QCOMPARE(r.header("X-ZRPAuth-Consumer-Key"), QByteArray("KEY-1"));
        const QByteArray nonce = r.header("X-ZRPAuth-Nonce");
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F-]{36}$"))
                    .match(QString::fromLatin1(nonce))
                    .hasMatch());
        const QByteArray signature = r.header("X-ZRPAuth-Signature");
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{40}$"))
                    .match(QString::fromLatin1(signature))
                    .hasMatch());
        QCOMPARE(QString::fromLatin1(signature),
                 Text::hmacSha1Hex(QStringLiteral("secret"), QStringLiteral("GET") + expectedURL +
                                                                 QStringLiteral("1767225600KEY-1") +
                                                                 QString::fromLatin1(nonce)));

        const HttpRequest again =
            VEXOClientAPI::requestSignedWithURL(expectedURL, QStringLiteral("KEY-1"), QStringLiteral("s"));
        QVERIFY(again.header("X-ZRPAuth-Nonce") != nonce);
    }

    void requestTemplates_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("target"); // as the server receives it

        const QString programs = QStringLiteral("/vexo/v1/programs/?");
        const QString videoTail =
            QStringLiteral("&fields=mediafiles%2Cassociated_images%2Cprogram__associated_images%2Cproducer"
                           "&filter_availability_status=Available&filter_mediafile_set__video_encoding__mime_"
                           "type=application%2Fx-mpegURL");
        QTest::newRow("by producer") << 0 << QStringList{"ZRP"}
                                     << programs +
                                            "fields=associated_images%2Cproducer&filter_producer__name=ZRP";
        QTest::newRow("producer in list")
            << 1 << QStringList{"KXZR,KQQD"}
            << programs + "fields=associated_images%2Cproducer&filter_producer__name__in=KXZR%2CKQQD";
        QTest::newRow("in, one name")
            << 2 << QStringList{"KXZR"}
            << programs + "fields=associated_images%2Cproducer&filter_producer__name=KXZR";
        QTest::newRow("in, two names")
            << 2 << QStringList{"KQQD", "KXZR"}
            << programs + "fields=associated_images%2Cproducer&filter_producer__name__in=KQQD%2CKXZR";
        QTest::newRow("without producer")
            << 3 << QStringList{"ZRP"}
            << programs + "exclude_producer__name=ZRP&fields=associated_images%2Cproducer";
        QTest::newRow("without list")
            << 4 << QStringList{"ZRP,KXZR"}
            << programs + "exclude_producer__name__in=ZRP%2CKXZR&fields=associated_images%2Cproducer";
        QTest::newRow("by ids") << 5 << QStringList{"12,13"}
                                << programs + "fields=associated_images%2Cproducer&filter_id__in=12%2C13";
        QTest::newRow("by slug") << 6 << QStringList{"night ferry"}
                                 << programs +
                                        "fields=associated_images%2Cproducer&filter_slug=night%20ferry";
        QTest::newRow("episodes by program")
            << 7 << QStringList{"123"}
            << "/vexo/v1/videos/?" + videoTail.mid(1) + "&filter_program=123&order_by=-airdate";
        QTest::newRow("episodes by media id")
            << 8 << QStringList{"2365001234"}
            << "/vexo/v1/videos/?" + videoTail.mid(1) +
                   "&filter_tp_media_object_id=2365001234&order_by=-airdate";
        QTest::newRow("episodes by media ids")
            << 9 << QStringList{"1,2"}
            << "/vexo/v1/videos/?" + videoTail.mid(1) +
                   "&filter_tp_media_object_id__in=1%2C2&order_by=-airdate";
        QTest::newRow("group, blanks as +")
            << 10 << QStringList{"ipad prime time"}
            << QStringLiteral("/vexo/v1/groups/?fields=videos__associated_images%2Cvideos__mediafiles%2C"
                              "videos__program__associated_images&filter_name=ipad+prime+time"
                              "&filter_videos__gated_content__in=Not+Gated%2CRegistration+Required");
    }

    void requestTemplates()
    {
        QFETCH(int, operation);
        QFETCH(QStringList, arguments);
        QFETCH(QString, target);
        LoopbackServer& server = *m_loop;
        useLoopback(server);
        LoopbackServer::Answer empty(200, resultsBody(QJsonArray{}));
        empty.contentType = "application/json";
        for (const QByteArray path : {"/vexo/v1/programs/", "/vexo/v1/videos/", "/vexo/v1/groups/"})
            server.on(path, empty);
        Recorder recorder;
        VEXOClientAPI client;
        client.setDelegate(&recorder);
        const QString a = arguments.first();
        const QString id = QStringLiteral("req");
        switch (operation) {
        case 0:
            client.getProgramsByProducerName(a, id);
            break;
        case 1:
            client.getProgramsWithProducerNameInList(a, id);
            break;
        case 2:
            client.getProgramsWithProducerNameIn(arguments, id);
            break;
        case 3:
            client.getProgramsWithoutProducerName(a, id);
            break;
        case 4:
            client.getProgramsWithoutProducerNameInList(a, id);
            break;
        case 5:
            client.getProgramByIdList(a, id);
            break;
        case 6:
            client.getProgramBySlug(a, id);
            break;
        case 7:
            client.getEpisodesByProgramId(a, id);
            break;
        case 8:
            client.getEpisodesByTPMediaId(a, id);
            break;
        case 9:
            client.getEpisodesByMediaIdList(a, id);
            break;
        case 10:
            client.getEpisodesByGroup(a, id);
            break;
        }
        QTRY_VERIFY(server.requestCount() >= 1);
        QCOMPARE(QString::fromLatin1(server.requests().first().target), target);
        QCOMPARE(client.requests().size(), qsizetype(1));
        const HttpRequest& sent = client.requests().first();
        QCOMPARE(sent.cachePolicy, CachePolicy::UseCache);
        QCOMPARE(sent.maxAgeSeconds, qint64(3600));
        QCOMPARE(sent.retryOnTimeoutCount, 3);
    }

    // ---------------------------------------------------------------- against the embedded network

    void sandboxAcceptsAndAnswers()
    {
        Recorder recorder;
        VEXOClientAPI client;
        client.setDelegate(&recorder);
        client.getProgramsByProducerName(QStringLiteral("ZRP"), QStringLiteral("own"));
        client.getProgramsWithoutProducerName(QStringLiteral("ZRP"), QStringLiteral("others"));
        client.getEpisodesByGroup(QStringLiteral("ipad_spotlight"), QStringLiteral("spotlight"));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.calls(), 3, 20000);
        QVERIFY(recorder.failed.isEmpty());

        QMap<QString, VEXOResults> byId;
        for (const auto& [id, results] : recorder.found)
            byId.insert(id, results);
        const QList<VEXOProgram> own = byId.value("own").programs;
        QVERIFY(!own.isEmpty());
        QVERIFY(
            std::none_of(own.begin(), own.end(), [](const VEXOProgram& p) { return p.isLocalProgram(); }));
        QVERIFY(std::all_of(own.begin(), own.end(),
                            [](const VEXOProgram& p) { return p.programId().has_value(); }));
        const QList<VEXOProgram> others = byId.value("others").programs;
        QVERIFY(!others.isEmpty());
        QVERIFY(std::all_of(others.begin(), others.end(),
                            [](const VEXOProgram& p) { return p.isLocalProgram(); }));
        QVERIFY(byId.value("spotlight").episodes.size() >= 5);
        QVERIFY(byId.value("spotlight").programs.isEmpty());

        // The videos of one program, by its id.
        client.getEpisodesByProgramId(*own.first().programId(), QStringLiteral("episodes"));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.calls(), 4, 20000);
        QVERIFY(recorder.failed.isEmpty());
        const QList<VEXOEpisode> episodes = recorder.found.last().second.episodes;
        QVERIFY(!episodes.isEmpty());
        for (const VEXOEpisode& e : episodes) {
            QVERIFY(e.videoDataURL().has_value() || e.isSegment());
            QVERIFY(!e.expires() || *e.expires() > QDateTime::currentDateTimeUtc());
        }

        // Every request was signed well enough for the service's own check.
        const QJsonArray log = sandboxCatalogLog();
        QCOMPARE(log.size(), 4);
        for (const QJsonValue& entry : log)
            QCOMPARE(entry.toObject().value("status").toInt(), 200);
    }

    void keyChoice_data()
    {
        QTest::addColumn<int>("idiom");
        QTest::addColumn<bool>("qaKeys");
        QTest::addColumn<QString>("keyName");

        QTest::newRow("tablet") << int(Device::IdiomPad) << false << "catalog.tablet_consumer_key";
        QTest::newRow("phone") << int(Device::IdiomPhone) << false << "catalog.phone_consumer_key";
        QTest::newRow("phone, development flag")
            << int(Device::IdiomPhone) << true << "catalog.tablet_consumer_key";
    }

    void keyChoice()
    {
        QFETCH(int, idiom);
        QFETCH(bool, qaKeys);
        QFETCH(QString, keyName);
        VEXOClientAPI::setDeviceForTesting(idiom, false);
        VEXOClientAPI::setUseQAKeys(qaKeys);
        Recorder recorder;
        VEXOClientAPI client;
        client.setDelegate(&recorder);
        client.getProgramBySlug(QStringLiteral("no-such-slug"), QStringLiteral("slug"));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.calls(), 1, 20000);
        QCOMPARE(QString::fromLatin1(client.requests().first().header("X-ZRPAuth-Consumer-Key")),
                 Config::shared().value(keyName));
        const QJsonArray log = sandboxCatalogLog();
        QCOMPARE(log.size(), 1);
        QCOMPARE(log.first().toObject().value("status").toInt(), 200); // the service knows both pairs
    }

    void retries_data()
    {
        QTest::addColumn<QJsonObject>("fault");
        QTest::addColumn<int>("failures"); // attempts that fail; 4 or more: every attempt

        const QJsonObject unavailable{{"status", 503}};
        QTest::newRow("no failure") << unavailable << 0;
        QTest::newRow("503 twice, then good") << unavailable << 2;
        QTest::newRow("503 three times, then good") << unavailable << 3;
        QTest::newRow("503 every time") << unavailable << 4;
        QTest::newRow("dropped every time") << QJsonObject{{"drop", true}} << 4;
        QTest::newRow("cut half-way every time") << QJsonObject{{"truncate", 40}} << 4;
        QTest::newRow("corrupt body every time") << QJsonObject{{"corrupt", true}} << 4;
    }

    void retries()
    {
        QFETCH(QJsonObject, fault);
        QFETCH(int, failures);
        if (failures > 0) {
            fault["prefix"] = "/vexo/v1/groups/";
            fault["count"] = failures >= 4 ? 20 : failures;
            addFault(fault);
        }
        Recorder recorder;
        VEXOClientAPI client;
        client.setDelegate(&recorder);
        client.getEpisodesByGroup(QStringLiteral("ipad_spotlight"), QStringLiteral("spot"));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.calls(), 1, 30000);
        const int attempts = std::min(failures + 1, 4);
        if (fault.value("drop").toBool()) {
            // The HTTP stack itself may send a GET again once when a reused connection closes
            // without an answer; the client's own attempts are what is counted.
            QTRY_VERIFY_WITH_TIMEOUT(sandboxCatalogLog().size() >= attempts, 20000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(sandboxCatalogLog().size(), attempts, 20000);
        }

        if (failures >= 4) {
            QCOMPARE(recorder.failed.size(), qsizetype(1));
            QCOMPARE(recorder.failed.first().first, QStringLiteral("spot"));
            QCOMPARE(m_failures.size(), qsizetype(1));
            const QVariantMap payload = m_failures.first().object.toMap();
            QCOMPARE(payload.value("api").toString(), QStringLiteral("vexo_api"));
            QCOMPARE(payload.value("url").toString(),
                     client.requests().first().url.toString(QUrl::FullyEncoded));
        } else {
            QCOMPARE(recorder.found.size(), qsizetype(1));
            QVERIFY(!recorder.found.first().second.episodes.isEmpty());
            QVERIFY(m_failures.isEmpty());
        }

        // Copies reuse the first attempt's signature, count up and go past the cache.
        const QList<HttpRequest> sent = client.requests();
        QCOMPARE(sent.size(), qsizetype(attempts));
        for (int i = 0; i < sent.size(); ++i) {
            QCOMPARE(sent.at(i).userInfo.value(VEXOClientAPI::kRetryCountKey, 0).toInt(), i);
            QCOMPARE(sent.at(i).cachePolicy, i == 0 ? CachePolicy::UseCache : CachePolicy::BypassReadStore);
            QCOMPARE(sent.at(i).header("X-ZRPAuth-Nonce"), sent.first().header("X-ZRPAuth-Nonce"));
            QCOMPARE(sent.at(i).header("X-ZRPAuth-Signature"), sent.first().header("X-ZRPAuth-Signature"));
        }
    }

    void answersCachedForAnHour()
    {
        Recorder recorder;
        VEXOClientAPI first;
        first.setDelegate(&recorder);
        first.getEpisodesByGroup(QStringLiteral("ipad_previews"), QStringLiteral("a"));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.calls(), 1, 20000);

        // Another client (another screen) within the hour: no request at all.
        VEXOClientAPI second;
        second.setDelegate(&recorder);
        second.getEpisodesByGroup(QStringLiteral("ipad_previews"), QStringLiteral("b"));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.calls(), 2, 20000);
        QCOMPARE(recorder.found.size(), qsizetype(2));
        QCOMPARE(recorder.found.at(1).second.episodes.size(), recorder.found.at(0).second.episodes.size());
        QCOMPARE(sandboxCatalogLog().size(), 1);
    }

    void staleAnswerRevalidated()
    {
        VirtualClock clock;
        VirtualClock::Scope scope(clock);
        LoopbackServer& server = *m_loop;
        useLoopback(server);
        const QByteArray body = resultsBody(QJsonArray{programJson("1"), programJson("2")});
        server.on("/vexo/v1/programs/", [body](const LoopbackServer::Request& r) {
            if (r.header("If-None-Match") == "\"v1\"")
                return LoopbackServer::Answer(304).header("ETag", "\"v1\"");
            LoopbackServer::Answer a(200, body);
            a.contentType = "application/json";
            return a.header("ETag", "\"v1\"");
        });
        Recorder recorder;
        VEXOClientAPI client;
        client.setDelegate(&recorder);
        client.getProgramBySlug(QStringLiteral("harbor"), QStringLiteral("1"));
        QTRY_COMPARE(recorder.calls(), 1);

        clock.advanceSeconds(3601);
        client.getProgramBySlug(QStringLiteral("harbor"), QStringLiteral("2"));
        QTRY_COMPARE(recorder.calls(), 2);
        QCOMPARE(server.requestCount(), 2);
        QCOMPARE(server.lastRequest().header("If-None-Match"), QByteArray("\"v1\""));
        QCOMPARE(recorder.found.at(1).second.programs.size(), qsizetype(2));

        // The 304 made the answer fresh again for another hour.
        clock.advanceSeconds(600);
        client.getProgramBySlug(QStringLiteral("harbor"), QStringLiteral("3"));
        QTRY_COMPARE(recorder.calls(), 3);
        QCOMPARE(server.requestCount(), 2);
    }

    void emptyAndFailedAnswersNotKept()
    {
        LoopbackServer& server = *m_loop;
        useLoopback(server);
        LoopbackServer::Answer empty(200, resultsBody(QJsonArray{}));
        empty.contentType = "application/json";
        server.on("/vexo/v1/programs/", empty);
        Recorder recorder;
        VEXOClientAPI client;
        client.setDelegate(&recorder);
        client.getProgramBySlug(QStringLiteral("none"), QStringLiteral("1"));
        QTRY_COMPARE(recorder.calls(), 1);
        QCOMPARE(recorder.found.size(), qsizetype(1));
        QVERIFY(recorder.found.first().second.isEmpty());
        client.getProgramBySlug(QStringLiteral("none"), QStringLiteral("2"));
        QTRY_COMPARE(recorder.calls(), 2);
        QCOMPARE(server.requestCount(), 2); // asked again: an empty answer is never kept

        LoopbackServer::Answer garbage(200, "<html>maintenance</html>");
        garbage.contentType = "text/html";
        server.on("/vexo/v1/videos/", garbage);
        client.getEpisodesByProgramId(QStringLiteral("7"), QStringLiteral("3"));
        QTRY_COMPARE(recorder.calls(), 3);
        QCOMPARE(recorder.failed.size(), qsizetype(1));
        QCOMPARE(server.requestCount("/vexo/v1/videos/"), 4);
        client.getEpisodesByProgramId(QStringLiteral("7"), QStringLiteral("4"));
        QTRY_COMPARE(recorder.calls(), 4);
        QCOMPARE(server.requestCount("/vexo/v1/videos/"), 8); // not replayed from the cache
    }

    void badAnswers_data()
    {
        QTest::addColumn<QString>("kind"); // programs, videos or group
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("records"); // -1: failed after every attempt; -2: failed at once, empty group
        QTest::addColumn<int>("extra");   // 1: truncated body, 2: larger than the client takes

        const QByteArray video = QJsonDocument(videoJson()).toJson(QJsonDocument::Compact);
        QTest::newRow("not JSON") << "programs" << QByteArray("results: yes") << 200 << -1 << 0;
        QTest::newRow("top-level array") << "programs" << QByteArray("[{\"results\": []}]") << 200 << -1 << 0;
        QTest::newRow("results an object") << "programs" << QByteArray("{\"results\": {}}") << 200 << -1 << 0;
        QTest::newRow("results a text")
            << "videos" << QByteArray("{\"results\": \"none\"}") << 200 << -1 << 0;
        QTest::newRow("results null") << "videos" << QByteArray("{\"results\": null}") << 200 << -1 << 0;
        QTest::newRow("no results") << "videos" << QByteArray("{\"count\": 0}") << 200 << -1 << 0;
        QTest::newRow("server error with results")
            << "programs" << resultsBody(QJsonArray{programJson()}) << 500 << -1 << 0;
        QTest::newRow("not UTF-8, still JSON")
            << "programs"
            << QByteArray(
                   "{\"results\": [{\"title\": \"Caf\xe9\", \"resource_uri\": \"/vexo/v1/programs/5/\"}]}")
            << 200 << 1 << 0;
        QTest::newRow("elements of other types skipped")
            << "programs" << resultsBody(QJsonArray{1, "x", QJsonValue::Null, QJsonArray{}, programJson()})
            << 200 << 1 << 0;
        QTest::newRow("videos that make no record skipped")
            << "videos"
            << "{\"results\": [3, " + video + ", {\"availability\": \"Expired\"}, {\"mediafiles\": 5}]}"
            << 200 << 1 << 0;
        QTest::newRow("stops half-way")
            << "videos" << resultsBody(QJsonArray{videoJson(), videoJson("2")}) << 200 << -1 << 1;
        QTest::newRow("huge") << "videos" << resultsBody(QJsonArray{videoJson(), videoJson("2")}) << 200 << -1
                              << 2;
        QTest::newRow("empty group") << "group" << resultsBody(QJsonArray{}) << 200 << -2 << 0;
        QTest::newRow("group without videos list")
            << "group" << resultsBody(QJsonArray{QJsonObject{{"videos", "none"}}}) << 200 << -1 << 0;
        QTest::newRow("group: first group only")
            << "group"
            << resultsBody(QJsonArray{QJsonObject{{"videos", QJsonArray{videoJson("1"), videoJson("2")}}},
                                      QJsonObject{{"videos", QJsonArray{videoJson("3")}}}})
            << 200 << 2 << 0;
    }

    void badAnswers()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(int, records);
        QFETCH(int, extra);
        LoopbackServer& server = *m_loop;
        useLoopback(server);
        LoopbackServer::Answer answer(status, body);
        answer.contentType = "application/json";
        if (extra == 1)
            answer.truncateAt = body.size() / 2;
        const QByteArray path = kind == QLatin1String("group") ? QByteArray("/vexo/v1/groups/")
                                                               : "/vexo/v1/" + kind.toLatin1() + "/";
        server.on(path, answer);

        Recorder recorder;
        VEXOClientAPI client;
        client.setDelegate(&recorder);
        if (extra == 2)
            client.setMaxResponseBytes(body.size() - 1);
        if (kind == QLatin1String("programs"))
            client.getProgramBySlug(QStringLiteral("x"), QStringLiteral("id"));
        else if (kind == QLatin1String("videos"))
            client.getEpisodesByProgramId(QStringLiteral("1"), QStringLiteral("id"));
        else
            client.getEpisodesByGroup(QStringLiteral("g"), QStringLiteral("id"));
        QTRY_COMPARE(recorder.calls(), 1);

        if (records >= 0) {
            QCOMPARE(recorder.found.size(), qsizetype(1));
            QCOMPARE(recorder.found.first().second.size(), qsizetype(records));
            QCOMPARE(server.requestCount(), 1);
            if (kind == QLatin1String("programs") && status == 200 && body.contains("Caf"))
                QCOMPARE(recorder.found.first().second.programs.first().title(), QStringLiteral("Caf\ufffd"));
        } else if (records == -1) {
            QCOMPARE(recorder.failed.size(), qsizetype(1));
            QCOMPARE(server.requestCount(), 4);
            QCOMPARE(m_failures.size(), qsizetype(1));
        } else {
            QCOMPARE(recorder.failed.size(), qsizetype(1));
            QCOMPARE(recorder.failed.first().second.domain, QStringLiteral("VEXO results empty"));
            QCOMPARE(recorder.failed.first().second.code, 0);
            QCOMPARE(server.requestCount(), 1); // no retry
            QVERIFY(m_failures.isEmpty());      // and no notification
        }
    }

    // ---------------------------------------------------------------- cancelling

    void cancelSilence_data()
    {
        QTest::addColumn<bool>("duringRetry");
        QTest::newRow("first attempt") << false;
        QTest::newRow("retry copy") << true;
    }

    void cancelSilence()
    {
        QFETCH(bool, duringRetry);
        LoopbackServer& server = *m_loop;
        useLoopback(server);
        if (duringRetry)
            server.enqueue("/vexo/v1/programs/", LoopbackServer::Answer(503));
        LoopbackServer::Answer held(200, resultsBody(QJsonArray{programJson()}));
        held.contentType = "application/json";
        held.hold = true;
        server.on("/vexo/v1/programs/", held);
        LoopbackServer::Answer sentinel(200, resultsBody(QJsonArray{videoJson()}));
        sentinel.contentType = "application/json";
        server.on("/vexo/v1/videos/", sentinel);

        Recorder recorder;
        VEXOClientAPI client;
        client.setDelegate(&recorder);
        client.getProgramBySlug(QStringLiteral("held"), QStringLiteral("held"));
        const int expectedAtServer = duringRetry ? 2 : 1;
        QTRY_COMPARE(server.requestCount("/vexo/v1/programs/"), expectedAtServer);
        QTRY_COMPARE(server.activeCount(), 1);

        client.cancelRequests();
        QVERIFY(client.delegate() == nullptr);
        server.releaseHeld();

        // A later request on another client is answered; by then the cancelled one has had every
        // chance to call back.
        Recorder witness;
        VEXOClientAPI other;
        other.setDelegate(&witness);
        other.getEpisodesByProgramId(QStringLiteral("1"), QStringLiteral("sentinel"));
        QTRY_COMPARE(witness.calls(), 1);
        QTRY_COMPARE(server.activeCount(), 0);
        QCOMPARE(recorder.calls(), 0);
        QCOMPARE(server.requestCount("/vexo/v1/programs/"), expectedAtServer);
        QVERIFY(m_failures.isEmpty());
    }

    void delegateGoneOrClientDestroyedInCallback()
    {
        LoopbackServer& server = *m_loop;
        useLoopback(server);
        LoopbackServer::Answer answer(200, resultsBody(QJsonArray{programJson()}));
        answer.contentType = "application/json";
        server.on("/vexo/v1/programs/", answer);

        // A screen destroyed without cancelling: its late answer goes nowhere.
        auto* gone = new Recorder;
        VEXOClientAPI client;
        client.setDelegate(gone);
        client.getProgramBySlug(QStringLiteral("a"), QStringLiteral("gone"));
        delete gone;
        QVERIFY(client.delegate() == nullptr);

        // A screen that drops its client from the callback of its last answer.
        Recorder owner;
        auto* owned = new VEXOClientAPI;
        owned->setDelegate(&owner);
        owner.onCallback = [&] {
            delete owned;
            owned = nullptr;
        };
        owned->getProgramBySlug(QStringLiteral("b"), QStringLiteral("last"));
        QTRY_COMPARE(owner.calls(), 1);
        QVERIFY(!owned);
        QTRY_COMPARE(server.requestCount(), 2);
        QTRY_COMPARE(server.activeCount(), 0);
    }
};

QTEST_MAIN(TestCatalog)
#include "test_catalog.moc"
