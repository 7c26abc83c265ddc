#include "LoopbackServer.h"
#include "SandboxServer.h"
#include "analytics/AnalyticsTracker.h"
#include "app/ContainerViewController.h"
#include "app/TabBarViewiPad.h"
#include "browse/EpisodeThumbnailView.h"
#include "browse/FeaturedViewController.h"
#include "browse/ImageRequestQueue.h"
#include "browse/PageControl.h"
#include "browse/PromoScrollView.h"
#include "browse/PromoView.h"
#include "browse/SegmentedEpisodeSliderView.h"
#include "catalog/VEXOClientAPI.h"
#include "catalog/VEXOEpisode.h"
#include "catalog/VEXOProgram.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/NotificationCenter.h"
#include "net/DownloadCache.h"
#include "net/HttpClient.h"
#include "net/Reachability.h"
#include "store/KeyValueStore.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"
#include "ui/LoadingOverlay.h"

#include <QApplication>
#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QScrollBar>
#include <QScroller>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>
#include <memory>

using namespace zrp;
using zrp::test::LoopbackServer;

namespace {

QByteArray pngBytes(const QColor& colour, QSize size = QSize(24, 14))
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, "PNG");
    return bytes;
}

LoopbackServer::Answer imageAnswer(const QByteArray& body, const QByteArray& type = "image/png")
{
    LoopbackServer::Answer a(200, body);
    a.contentType = type;
    return a;
}

QString gmt(const QDateTime& t)
{
    return t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QJsonObject image(const QString& usage, const QString& url)
{
    return QJsonObject{{"url", url}, {"type", QJsonObject{{"usage_type", usage}}}};
}

// A catalog video object as the service sends it. expiresInDays < 0: never expires.
QJsonObject videoJson(int id, const QString& program, const QString& title, const QString& imageBase,
                      double expiresInDays = -1)
{
    const QDateTime now = Clock::shared()->now();
    QJsonObject programObject{
        {"resource_uri", QStringLiteral("/vexo/v1/programs/%1/").arg(qHash(program) % 100000)},
        {"title", program},
        {"short_description", QStringLiteral("About %1.").arg(program)},
        {"associated_images",
         QJsonArray{image("iPhone-Medium", QStringLiteral("%1/img/p%2-thumb.png").arg(imageBase).arg(id))}},
        {"producer", QJsonObject{{"name", "ZRP"}}},
    };
    return QJsonObject{
        {"resource_uri", QStringLiteral("/vexo/v1/videos/%1/").arg(id)},
        {"title", title},
        {"short_description", QStringLiteral("What happens in %1.").arg(title)},
        {"tp_media_object_id", 2365000000LL + id},
        {"type", "Episode"},
        {"availability", "Available"},
        {"airdate", gmt(now.addDays(-2))},
        {"expire_datetime",
         expiresInDays < 0 ? QJsonValue() : QJsonValue(gmt(now.addSecs(qint64(expiresInDays * 86400))))},
        {"associated_images",
         QJsonArray{image("iPad-Large", QStringLiteral("%1/img/v%2-large.png").arg(imageBase).arg(id)),
                    image("iPhone-Medium", QStringLiteral("%1/img/v%2-thumb.png").arg(imageBase).arg(id))}},
        {"mediafiles",
         QJsonArray{QJsonObject{
             {"video_encoding", QJsonObject{{"mime_type", "application/x-mpegURL"}, {"name", "iPad-16x9"}}},
             {"video_data_url", QStringLiteral("https://media.example/%1.m3u8").arg(id)},
             {"length_mseconds", 1500000}}}},
        {"is_segment", false},
        {"program", programObject},
    };
}

VEXOEpisode episode(int id, const QString& program, const QString& title,
                    const QString& imageBase = QString(), double expiresInDays = -1)
{
    auto e = VEXOEpisode::episodeWithDictionary(videoJson(id, program, title, imageBase, expiresInDays));
    Q_ASSERT(e);
    return *e;
}

QList<VEXOEpisode> episodes(int n, const QString& imageBase = QString())
{
    QList<VEXOEpisode> out;
    for (int i = 0; i < n; ++i)
        out << episode(100 + i, QStringLiteral("Program %1").arg(i), QStringLiteral("Video %1").arg(i),
                       imageBase);
    return out;
}

QVariantList records(const QList<VEXOEpisode>& list)
{
    QVariantList out;
    for (const auto& e : list)
        out << QVariant::fromValue(e);
    return out;
}

class RecordingDelegate : public ImageRequestDelegate
{
public:
    QList<QPair<QString, QByteArray>> received;
    void downloadDidFinishDownloadingData(const QByteArray& data, const QString& identifier) override
    {
        received.append({identifier, data});
    }
};

} // namespace

class TestFeatured : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<DownloadCache> m_cache;
    std::unique_ptr<SandboxServer> m_sandbox;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<VirtualClock> m_clock;
    std::unique_ptr<KeyValueStore> m_store;
    std::unique_ptr<FakeReachability> m_reach;

    QString base() const { return m_server->url(QStringLiteral("/")).toString().chopped(1); }
    QByteArray servePng(const QByteArray& path, const QColor& colour = Qt::red)
    {
        const QByteArray png = pngBytes(colour);
        m_server->on(path, imageAnswer(png));
        return png;
    }

    // The hub, offline so that it opens no featured screen of its own: the screens under test
    // reach it for the loading overlay, failures and the pages they open.
    ContainerViewController* startHub()
    {
        m_reach = std::make_unique<FakeReachability>(Reachability::NotReachable);
        ContainerViewController* hub = ContainerViewController::sharedInstance();
        hub->setReachability(m_reach.get());
        QWidget* window = hub->view();
        ui::setMainWindow(window);
        window->resize(1024, 768);
        window->show();
        return hub;
    }

    QStringList pageViews() const
    {
        QStringList out;
        for (const AnalyticsHit& h : AnalyticsTracker::sharedInstance()->queuedHits())
            if (h.type == QLatin1String("pageview"))
                out << h.path;
        return out;
    }

    // The catalog's groups from the loopback server: `failing` answers 500, `empty` an empty list.
    void serveGroups(const QMap<QString, QJsonArray>& groups, const QString& failing = QString(),
                     const QString& empty = QString(), const QString& held = QString())
    {
        Config::shared().setValue(QStringLiteral("catalog.base_url"), base() + QStringLiteral("/vexo/v1/"));
        m_server->on("/vexo/v1/groups/", [groups, failing, empty, held](const LoopbackServer::Request& r) {
            const QString name =
                QUrlQuery(QUrl(QString::fromUtf8(r.target)).query()).queryItemValue("filter_name");
            if (name == failing)
                return LoopbackServer::Answer(500, "{\"error\": \"busy\"}");
            QJsonArray results;
            if (name != empty && groups.contains(name))
                results.append(QJsonObject{{"name", name}, {"videos", groups.value(name)}});
            LoopbackServer::Answer a(200, QJsonDocument(QJsonObject{{"results", results}}).toJson());
            a.contentType = "application/json";
            a.hold = name == held;
            return a;
        });
    }

    QStringList requestedGroups() const
    {
        QStringList out;
        for (const auto& r : m_server->requests())
            if (r.path == "/vexo/v1/groups/")
                out << QUrlQuery(QUrl(QString::fromUtf8(r.target)).query()).queryItemValue("filter_name");
        return out;
    }

    // Three previews, five spotlight videos and six primetime videos of three programs (one of
    // them under two spellings of its case), none expiring.
    QMap<QString, QJsonArray> sampleGroups(double previewExpiresInDays = -1)
    {
        QJsonArray previews, spotlight, primetime;
        for (int i = 0; i < 3; ++i)
            previews.append(videoJson(1 + i, QStringLiteral("Preview Program %1").arg(i),
                                      QStringLiteral("Preview %1").arg(i), base(),
                                      i == 1 ? previewExpiresInDays : -1));
        for (int i = 0; i < 5; ++i)
            spotlight.append(videoJson(11 + i, QStringLiteral("Pick Program %1").arg(i),
                                       QStringLiteral("Pick %1").arg(i), base()));
        const QStringList programs = {"zebra Nights",  "Harbor Lights", "apple Hour",
                                      "Harbor Lights", "Harbor Lights", "Apple Hour"};
        for (int i = 0; i < programs.size(); ++i)
            primetime.append(videoJson(21 + i, programs[i], QStringLiteral("Night %1").arg(i), base()));
        return {{"ipad_previews", previews}, {"ipad_spotlight", spotlight}, {"ipad_primetime", primetime}};
    }

    std::unique_ptr<FeaturedViewController> showFeatured()
    {
        auto featured = std::make_unique<FeaturedViewController>();
        QWidget* v = featured->view();
        v->resize(1024, 660);
        featured->willAppear(false);
        v->show();
        featured->didAppear(false);
        return featured;
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
        m_server = std::make_unique<LoopbackServer>();
        VEXOClientAPI::setDeviceForTesting(Device::IdiomPad, false);
    }

    void cleanupTestCase()
    {
        HttpClient::shared().setCache(nullptr);
        VEXOClientAPI::setDeviceForTesting(std::nullopt, std::nullopt);
        m_server.reset();
        m_sandbox.reset();
    }

    void init()
    {
        // The sample catalog dates everything from the real now; so does the virtual clock.
        m_clock = std::make_unique<VirtualClock>(QDateTime::currentDateTimeUtc());
        Clock::setShared(m_clock.get());
        m_cache->clear();
        m_server->reset();
        Config::shared().resetToDefaults();
        static int n = 0;
        m_store = std::make_unique<KeyValueStore>(m_dir.filePath(QStringLiteral("s%1.sqlite").arg(++n)));
        AnalyticsTracker::resetSharedInstance();
        AnalyticsTracker::sharedInstance()->setStore(m_store.get());
        AnalyticsTracker::sharedInstance()->setCollectorURL(
            QUrl(QStringLiteral("http://127.0.0.1:9/collect")));
        AnalyticsTracker::sharedInstance()->startTrackerWithAccountID(QStringLiteral("ZA-1"), 3600);
    }

    void cleanup()
    {
        ContainerViewController::resetSharedInstance();
        for (ui::AlertView* a : ui::AlertView::visibleAlerts())
            a->dismissWithClickedButtonIndex(-1, false);
        AnalyticsTracker::resetSharedInstance();
        m_reach.reset();
        m_store.reset();
        Clock::setShared(nullptr);
        m_clock.reset();
    }

    // ---------------------------------------------------------------- image request pattern

    void imageAnswers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("png") << 200 << QByteArray("image/png") << true;
        QTest::newRow("type in capitals") << 200 << QByteArray("Image/PNG") << true;
        QTest::newRow("html page") << 200 << QByteArray("text/html; charset=utf-8") << false;
        QTest::newRow("no type") << 200 << QByteArray() << false;
        QTest::newRow("not found, image type") << 404 << QByteArray("image/png") << false;
    }

    void imageAnswers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(bool, delivered);
        // The body is a real PNG every time: only the status and the type decide.
        LoopbackServer::Answer a(status, pngBytes(Qt::green));
        a.contentType = contentType;
        m_server->on("/img/a.png", a);

        RecordingDelegate owner;
        ImageRequestQueue queue(&owner);
        const QImage cached =
            queue.enqueueRequestForURLString(base() + "/img/a.png", QStringLiteral("seg|3"));
        QVERIFY(cached.isNull());
        const QList<HttpRequest> pending = queue.requests();
        QCOMPARE(pending.size(), 1);
        QCOMPARE(pending.first().userInfo.value(QStringLiteral("identifier")).toString(),
                 QStringLiteral("seg|3"));
        QCOMPARE(pending.first().cachePolicy, CachePolicy::UseCache);
        QCOMPARE(pending.first().maxAgeSeconds, qint64(259200));

        QTRY_COMPARE(queue.pendingCount(), 0);
        QCOMPARE(owner.received.size(), delivered ? 1 : 0);
        if (delivered)
            QCOMPARE(owner.received.first().first, QStringLiteral("seg|3"));
        const LoopbackServer::Request sent = m_server->lastRequest();
        QCOMPARE(sent.method, QByteArray("GET"));
        QCOMPARE(sent.header("Accept-Encoding"), QByteArray("identity"));
        for (const auto& h : sent.headers)
            QVERIFY2(!h.first.toLower().startsWith("x-zrpauth"), h.first.constData());
    }

    void imageMissingURLStartsNothing()
    {
        RecordingDelegate owner;
        ImageRequestQueue queue(&owner);
        QVERIFY(queue.enqueueRequestForURLString(QString(), QStringLiteral("0")).isNull());
        QCOMPARE(queue.pendingCount(), 0);
    }

    // The cache answers at once; a fresh entry saves the request, a three-day-old one is asked
    // again.
    void imageFromCacheFirst()
    {
        const QByteArray png = servePng("/img/c.png", Qt::blue);
        const QString url = base() + "/img/c.png";
        {
            RecordingDelegate owner;
            ImageRequestQueue queue(&owner);
            QVERIFY(queue.enqueueRequestForURLString(url, QStringLiteral("first")).isNull());
            QTRY_COMPARE(owner.received.size(), 1);
        }
        QCOMPARE(m_server->requestCount("/img/c.png"), 1);

        RecordingDelegate owner;
        ImageRequestQueue queue(&owner);
        const QImage cached = queue.enqueueRequestForURLString(url, QStringLiteral("again"));
        QVERIFY(!cached.isNull());
        QCOMPARE(cached.pixelColor(1, 1), QColor(Qt::blue));
        QTRY_COMPARE(owner.received.size(), 1);
        QCOMPARE(m_server->requestCount("/img/c.png"), 1); // fresh: not asked

        m_clock->advance(259200LL * 1000 + 1000);
        QVERIFY(!queue.enqueueRequestForURLString(url, QStringLiteral("stale")).isNull());
        QTRY_COMPARE(owner.received.size(), 2);
        QCOMPARE(m_server->requestCount("/img/c.png"), 2);
        QCOMPARE(owner.received.last().second, png);
    }

    // An owner that goes away with answers on the way hears nothing and nothing crashes.
    void imageOwnerGoneBeforeAnswer()
    {
        LoopbackServer::Answer held = imageAnswer(pngBytes(Qt::yellow));
        held.hold = true;
        m_server->on("/img/held.png", held);
        auto slider = std::make_unique<SegmentedEpisodeSliderView>();
        slider->enqueueRequestForURLString(base() + "/img/held.png", QStringLiteral("A|0"));
        RecordingDelegate owner;
        auto queue = std::make_unique<ImageRequestQueue>(&owner);
        queue->enqueueRequestForURLString(base() + "/img/held.png", QStringLiteral("x"));
        QTRY_COMPARE(m_server->activeCount(), 2);
        slider.reset();
        queue->cancelRequests();
        m_server->releaseHeld();
        QTRY_COMPARE(m_server->activeCount(), 0);
        // A later request through the same client comes back after the released answers.
        servePng("/img/sentinel.png");
        RecordingDelegate sentinel;
        ImageRequestQueue after(&sentinel);
        after.enqueueRequestForURLString(base() + "/img/sentinel.png", QStringLiteral("s"));
        QTRY_COMPARE(sentinel.received.size(), 1);
        QCOMPARE(owner.received.size(), 0);
    }

    // ---------------------------------------------------------------- slider

    void sliderTexts_data()
    {
        QTest::addColumn<bool>("programs");
        QTest::addColumn<int>("layout");
        QTest::addColumn<QString>("programTitle");
        QTest::addColumn<QString>("episodeTitle");
        QTest::newRow("video, layout 0") << false << 0 << "Program 1"
                                         << "Video 1";
        QTest::newRow("video, layout 1") << false << 1 << "Video 1"
                                         << "";
        QTest::newRow("video, layout 2") << false << 2 << "Program 1"
                                         << "Video 1";
        QTest::newRow("program") << true << 0 << "Program 1"
                                 << "";
    }

    void sliderTexts()
    {
        QFETCH(bool, programs);
        QFETCH(int, layout);
        QFETCH(QString, programTitle);
        QFETCH(QString, episodeTitle);
        QVariantList list;
        for (const VEXOEpisode& e : episodes(3))
            list << (programs ? QVariant::fromValue(*e.program()) : QVariant::fromValue(e));
        SegmentedEpisodeSliderView slider;
        slider.resize(1024, 198);
        slider.loadEpisodes({{QStringLiteral("S"), list}}, QStringLiteral("S"), layout);
        const auto views = slider.episodeThumbnailViews(QStringLiteral("S"));
        QCOMPARE(views.size(), 3);
        QCOMPARE(views[1]->programTitle(), programTitle);
        QCOMPARE(views[1]->episodeTitle(), episodeTitle);
        QCOMPARE(slider.landscapeColumnCount(), layout == 2 ? 3 : 4);
        QCOMPARE(slider.portraitColumnCount(), 2);
    }

    void sliderSegmentsAndTags()
    {
        const QList<VEXOEpisode> a = episodes(3);
        QVariantList b;
        for (const VEXOEpisode& e : episodes(2))
            b << QVariant::fromValue(*e.program());
        SegmentedEpisodeSliderView slider;
        slider.resize(1024, 198);
        slider.show();
        slider.loadEpisodes(
            {{QStringLiteral("A"), records(a)}, {QStringLiteral("B"), b}, {QStringLiteral("Empty"), {}}},
            QStringLiteral("B"));
        QCOMPARE(slider.allVideos().size(), 5);
        QCOMPARE(slider.currentEpisodeIndex(), 5);
        QCOMPARE(slider.currentSegment(), QStringLiteral("B"));
        QVERIFY(slider.episodeThumbnailViews(QStringLiteral("Empty")).isEmpty());
        QSet<int> tags;
        for (const QString& segment : {QStringLiteral("A"), QStringLiteral("B")}) {
            const auto views = slider.episodeThumbnailViews(segment);
            for (int i = 0; i < views.size(); ++i) {
                QCOMPARE(views[i]->isVisible(), segment == QLatin1String("B"));
                tags.insert(views[i]->tag());
                const QVariant record = slider.allVideos().at(views[i]->tag());
                const QVariant loaded = slider.videos().value(segment).at(i);
                QCOMPARE(record.metaType(), loaded.metaType());
                if (segment == QLatin1String("A"))
                    QCOMPARE(record.value<VEXOEpisode>().title(), loaded.value<VEXOEpisode>().title());
                else
                    QCOMPARE(record.value<VEXOProgram>().title(), loaded.value<VEXOProgram>().title());
            }
        }
        QCOMPARE(tags.size(), 5);

        // Changing segment rebuilds its thumbnails with new tags; the other segment leaves.
        slider.changeSegment(QStringLiteral("A"));
        QCOMPARE(slider.currentEpisodeIndex(), 8);
        QCOMPARE(slider.allVideos().size(), 8);
        const auto rebuilt = slider.episodeThumbnailViews(QStringLiteral("A"));
        QCOMPARE(rebuilt.size(), 3);
        QCOMPARE(rebuilt[0]->tag(), 5);
        QCOMPARE(slider.allVideos().at(5).value<VEXOEpisode>().title(), a[0].title());
        for (auto* v : slider.episodeThumbnailViews(QStringLiteral("B")))
            QVERIFY(!v->isVisible());
        for (auto* v : rebuilt)
            QVERIFY(v->isVisible());
    }

    void sliderLayout_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("layout");
        QTest::addColumn<bool>("grid");
        QTest::addColumn<QPoint>("secondAt");
        QTest::addColumn<QPoint>("fifthAt");
        QTest::newRow("band, one row") << QSize(1024, 198) << 0 << false << QPoint(256, 0) << QPoint(1024, 0);
        QTest::newRow("band, two rows") << QSize(1024, 420) << 0 << false << QPoint(0, 198) << QPoint(512, 0);
        QTest::newRow("portrait grid, 2 columns")
            << QSize(768, 600) << 0 << true << QPoint(384 + 64, 0) << QPoint(64, 396);
        QTest::newRow("layout 2, 3 columns")
            << QSize(1024, 600) << 2 << true << QPoint(341 + 42, 0) << QPoint(341 + 42, 198);
    }

    void sliderLayout()
    {
        QFETCH(QSize, size);
        QFETCH(int, layout);
        QFETCH(bool, grid);
        QFETCH(QPoint, secondAt);
        QFETCH(QPoint, fifthAt);
        SegmentedEpisodeSliderView slider;
        slider.resize(size);
        slider.show();
        slider.loadEpisodes({{QStringLiteral("S"), records(episodes(6))}}, QStringLiteral("S"), layout);
        QCOMPARE(slider.isGridLayout(), grid);
        const auto views = slider.episodeThumbnailViews(QStringLiteral("S"));
        // Grid cells split the visible width; allow for a vertical scroll bar taking a little.
        QVERIFY2(std::abs(views[1]->x() - secondAt.x()) <= 8 && views[1]->y() == secondAt.y(),
                 qPrintable(QStringLiteral("%1,%2").arg(views[1]->x()).arg(views[1]->y())));
        QVERIFY2(std::abs(views[4]->x() - fifthAt.x()) <= 8 && views[4]->y() == fifthAt.y(),
                 qPrintable(QStringLiteral("%1,%2").arg(views[4]->x()).arg(views[4]->y())));
    }

    void sliderTouchSelectsAndPosts()
    {
        SegmentedEpisodeSliderView slider;
        slider.resize(1024, 198);
        slider.show();
        const QList<VEXOEpisode> list = episodes(6); // more than fit: the band scrolls
        slider.loadEpisodes(
            {{QStringLiteral("A"), records(list)}, {QStringLiteral("B"), records(episodes(1))}},
            QStringLiteral("A"));
        QList<Notification> taps;
        NotificationCenter::defaultCenter().addObserver(this, QStringLiteral("SegmentedSliderItemTap"),
                                                        [&](const Notification& n) { taps << n; });
        const auto views = slider.episodeThumbnailViews(QStringLiteral("A"));

        QTest::mouseClick(views[2], Qt::LeftButton, {}, views[2]->imageRect().center());
        QTRY_COMPARE(taps.size(), 1);
        QVariantMap payload = taps.last().object.toMap();
        QCOMPARE(payload.value("itemData").value<VEXOEpisode>().title(), list[2].title());
        QCOMPARE(payload.value("itemView").value<QObject*>(), static_cast<QObject*>(views[2]));
        QCOMPARE(slider.selectedEpisodeIndex(), 2);
        QCOMPARE(slider.segmentForSelectedEpisode(), QStringLiteral("A"));
        QVERIFY(views[2]->selected());

        // The keyboard does what a finger does: move, then open.
        slider.setFocus();
        QTest::keyClick(&slider, Qt::Key_Right);
        QVERIFY(!views[2]->selected());
        QVERIFY(views[3]->selected());
        QCOMPARE(taps.size(), 1);
        QTest::keyClick(&slider, Qt::Key_Return);
        QCOMPARE(taps.size(), 2);
        QCOMPARE(taps.last().object.toMap().value("itemData").value<VEXOEpisode>().title(), list[3].title());

        // selectEpisode matches by title; no match leaves nothing selected.
        slider.selectEpisode(list[1]);
        QCOMPARE(slider.selectedEpisodeIndex(), 1);
        QVERIFY(views[1]->selected() && !views[3]->selected());
        slider.selectEpisode(episode(999, QStringLiteral("Other"), QStringLiteral("No such title")));
        QCOMPARE(slider.selectedEpisodeIndex(), -1);
        QVERIFY(!views[1]->selected());
        NotificationCenter::defaultCenter().removeObserver(this);
    }

    // An image that arrives after its segment was rebuilt goes to the thumbnail now at its
    // position; one whose position is gone goes nowhere.
    void sliderLateImageAfterRebuild()
    {
        LoopbackServer::Answer held = imageAnswer(pngBytes(Qt::magenta));
        held.hold = true;
        m_server->on("/img/v100-thumb.png", held);
        m_server->on("/img/v101-thumb.png", held);
        SegmentedEpisodeSliderView slider;
        slider.resize(1024, 198);
        slider.loadEpisodes({{QStringLiteral("A"), records(episodes(2, base()))}, {QStringLiteral("B"), {}}},
                            QStringLiteral("A"));
        QTRY_COMPARE(m_server->activeCount(), 2);
        slider.changeSegment(QStringLiteral("B"));
        slider.changeSegment(QStringLiteral("A")); // asks again: two more held requests
        QTRY_COMPARE(m_server->activeCount(), 4);
        const auto views = slider.episodeThumbnailViews(QStringLiteral("A"));
        QVERIFY(!views[0]->hasLoadedImage());
        m_server->releaseHeld();
        QTRY_VERIFY(views[0]->hasLoadedImage() && views[1]->hasLoadedImage());
        QCOMPARE(views[0]->episodeImage().pixelColor(1, 1), QColor(Qt::magenta));

        // Positions and segments that no longer exist are ignored.
        slider.downloadDidFinishDownloadingData(pngBytes(Qt::cyan), QStringLiteral("A|2"));
        slider.downloadDidFinishDownloadingData(pngBytes(Qt::cyan), QStringLiteral("Gone|0"));
        slider.downloadDidFinishDownloadingData(pngBytes(Qt::cyan), QStringLiteral("A|x"));
        QCOMPARE(views[0]->episodeImage().pixelColor(1, 1), QColor(Qt::magenta));
    }

    // Reloading the slider with other records drops the answers still due for the old ones.
    void sliderReloadDropsOldAnswers()
    {
        LoopbackServer::Answer held = imageAnswer(pngBytes(Qt::darkRed));
        held.hold = true;
        m_server->on("/img/v100-thumb.png", held);
        SegmentedEpisodeSliderView slider;
        slider.resize(1024, 198);
        slider.loadEpisodes({{QStringLiteral("A"), records(episodes(1, base()))}}, QStringLiteral("A"));
        QTRY_COMPARE(m_server->activeCount(), 1);
        slider.loadEpisodes(
            {{QStringLiteral("A"), records({episode(7, QStringLiteral("P"), QStringLiteral("T"))})}},
            QStringLiteral("A"));
        QCOMPARE(slider.requests()->pendingCount(), 0);
        m_server->releaseHeld();
        QTRY_COMPARE(m_server->activeCount(), 0);
        servePng("/img/sentinel.png");
        RecordingDelegate sentinel;
        ImageRequestQueue after(&sentinel);
        after.enqueueRequestForURLString(base() + "/img/sentinel.png", QStringLiteral("s"));
        QTRY_COMPARE(sentinel.received.size(), 1);
        QVERIFY(!slider.episodeThumbnailViews(QStringLiteral("A")).first()->hasLoadedImage());
    }

    // ---------------------------------------------------------------- promo strip

    void promoPages_data()
    {
        QTest::addColumn<int>("videos");
        QTest::addColumn<QList<int>>("tags");
        QTest::addColumn<bool>("wrap");
        QTest::newRow("4 videos") << 4 << QList<int>{0, 1, 2, 3} << false;
        QTest::newRow("5 videos") << 5 << QList<int>{3, 4, 0, 1, 2, 3, 4, 0, 1} << true;
        QTest::newRow("6 videos") << 6 << QList<int>{4, 5, 0, 1, 2, 3, 4, 5, 0, 1} << true;
    }

    void promoPages()
    {
        QFETCH(int, videos);
        QFETCH(QList<int>, tags);
        QFETCH(bool, wrap);
        for (int i = 0; i < videos; ++i)
            servePng(QStringLiteral("/img/v%1-large.png").arg(100 + i).toUtf8(),
                     QColor::fromHsv(i * 50, 200, 200));
        PromoScrollView strip;
        strip.resize(1024, 400);
        strip.show();
        QVERIFY(strip.pageControl()->isHidden());
        strip.loadEpisodes(episodes(videos, base()));
        QVERIFY(!strip.pageControl()->isHidden());
        QCOMPARE(strip.pageControl()->numberOfPages(), videos);
        QCOMPARE(strip.infiniteScrollingAvailable(), wrap);
        QList<int> got;
        for (PromoView* v : strip.episodePromoViews())
            got << v->tag();
        QCOMPARE(got, tags);
        const int w = strip.pageWidth();
        QCOMPARE(strip.contentOffset(), wrap ? w : 0);
        QVERIFY(strip.isAutoAdvancing());
        QCOMPARE(strip.scrollTimer()->intervalMs(), qint64(7500));
        QVERIFY(strip.scrollTimer()->repeats());

        // Fading by distance from the centre: the page on show, its neighbours, and beyond.
        const int shown = wrap ? 2 : 0;
        QCOMPARE(strip.episodePromoViews()[shown]->fadeOpacity(), 1.0);
        QVERIFY(qAbs(strip.episodePromoViews()[shown + 1]->fadeOpacity() - 1.0 / 3.0) < 0.01);
        QCOMPARE(strip.episodePromoViews()[shown + 2]->fadeOpacity(), 0.0);

        for (PromoView* v : strip.episodePromoViews())
            QVERIFY(v->isVisibleTo(&strip));
        // Each page gets its own video's picture, the copies included.
        for (PromoView* v : strip.episodePromoViews())
            QTRY_VERIFY(v->hasLoadedImage());
        for (PromoView* v : strip.episodePromoViews())
            QCOMPARE(v->episodeImage().pixel(1, 1), QColor::fromHsv(v->tag() * 50, 200, 200).rgb());
    }

    void promoAutoAdvance_data()
    {
        QTest::addColumn<int>("videos");
        QTest::newRow("4 videos: back to the first") << 4;
        QTest::newRow("5 videos: forward to the first") << 5;
    }

    void promoAutoAdvance()
    {
        QFETCH(int, videos);
        PromoScrollView strip;
        strip.resize(1024, 400);
        strip.show();
        strip.loadEpisodes(episodes(videos));
        const int w = strip.pageWidth();
        const bool wrap = videos >= 5;
        QList<int> offsets;
        connect(strip.scrollView()->horizontalScrollBar(), &QScrollBar::valueChanged, this,
                [&](int value) { offsets << value; });
        qint64 now = 0;
        auto advanceTo = [&](qint64 t) {
            m_clock->advance(t - now);
            now = t;
        };

        for (int k = 1; k < videos; ++k) {
            advanceTo(7500 * k - 1);
            QCOMPARE(strip.pageControl()->currentPage(), k - 1);
            advanceTo(7500 * k);
            QCOMPARE(strip.pageControl()->currentPage(), k);
            advanceTo(7500 * k + 1000); // the scroll animation ends well within this
            QVERIFY(!strip.isAnimatingScroll());
            QCOMPARE(strip.contentOffset(), w * (wrap ? k + 1 : k));
        }
        // From the last video to the first.
        offsets.clear();
        advanceTo(7500 * videos + 1000);
        QCOMPARE(strip.pageControl()->currentPage(), 0);
        QCOMPARE(strip.contentOffset(), wrap ? w : 0);
        QVERIFY(offsets.size() > 2);
        if (wrap) {
            // It kept moving forward to the copy of the first video, then jumped to the real one.
            QVERIFY(offsets.contains(w * (videos + 1)));
            QList<int> forward = offsets;
            forward.removeAll(w);
            for (int i = 1; i < forward.size(); ++i)
                QVERIFY(forward[i] >= forward[i - 1]);
        } else {
            for (int i = 1; i < offsets.size(); ++i)
                QVERIFY(offsets[i] <= offsets[i - 1]);
        }
        // The pages are faded again once the scroll has ended.
        QCOMPARE(strip.episodePromoViews()[wrap ? 2 : 0]->fadeOpacity(), 1.0);
        QCOMPARE(strip.episodePromoViews()[wrap ? videos + 2 : videos - 1]->fadeOpacity(), 0.0);
    }

    // A drag through the kinetic scroller stops the advance for 10 s; a second drag within
    // them starts the 10 s again.
    void promoDragPausesAutoAdvance()
    {
        PromoScrollView strip;
        strip.resize(1024, 400);
        strip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&strip));
        strip.loadEpisodes(episodes(5));
        QScroller* scroller = QScroller::scroller(strip.scrollView()->viewport());
        auto drag = [&] {
            const QPointF from(512, 150);
            qint64 t = 1;
            scroller->handleInput(QScroller::InputPress, from, t); // a press is never consumed
            QCOMPARE(scroller->state(), QScroller::Pressed);
            for (int i = 1; i <= 6; ++i)
                scroller->handleInput(QScroller::InputMove, from - QPointF(i * 15, 0), t += 40);
            QCOMPARE(scroller->state(), QScroller::Dragging);
            scroller->handleInput(QScroller::InputRelease, from - QPointF(90, 0), t += 40);
            QTRY_COMPARE(scroller->state(), QScroller::Inactive);
        };
        drag();
        QVERIFY(!strip.isAutoAdvancing());
        QVERIFY(!strip.pageControlUsed());
        m_clock->advance(9000);
        drag();
        const int dot = strip.pageControl()->currentPage();
        m_clock->advance(9000); // 18 s after the first drag, 9 s after the second
        QVERIFY(!strip.isAutoAdvancing());
        QCOMPARE(strip.pageControl()->currentPage(), dot);
        m_clock->advance(1000);
        QVERIFY(strip.isAutoAdvancing());
        m_clock->advance(7499);
        QCOMPARE(strip.pageControl()->currentPage(), dot);
        m_clock->advance(1001);
        QCOMPARE(strip.pageControl()->currentPage(), (dot + 1) % 5);
    }

    // A user's scroll that comes to rest on a copy lands on the real page, with its dot lit.
    void promoUserScrollOntoCopies_data()
    {
        QTest::addColumn<int>("restPage"); // in pages of the offset
        QTest::addColumn<int>("landPage");
        QTest::addColumn<int>("dot");
        QTest::newRow("copy of the last video") << 0 << 5 << 4;
        QTest::newRow("copy of the first video") << 6 << 1 << 0;
        QTest::newRow("a real page") << 3 << 3 << 2;
    }

    void promoUserScrollOntoCopies()
    {
        QFETCH(int, restPage);
        QFETCH(int, landPage);
        QFETCH(int, dot);
        PromoScrollView strip;
        strip.resize(1024, 400);
        strip.show();
        strip.loadEpisodes(episodes(5));
        const int w = strip.pageWidth();
        strip.scrollViewWillBeginDragging();
        strip.scrollView()->setContentOffset(restPage * w);
        QCOMPARE(strip.pageControl()->currentPage(), dot);
        strip.scrollViewDidEndDecelerating();
        QCOMPARE(strip.contentOffset(), landPage * w);
        QCOMPARE(strip.pageControl()->currentPage(), dot);
    }

    void promoTouchAndKeys()
    {
        PromoScrollView strip;
        strip.resize(1024, 400);
        strip.show();
        strip.loadEpisodes(episodes(5));
        QSignalSpy touched(&strip, &PromoScrollView::episodeTouched);
        // The page peeking in at the left is the copy of the last video.
        QWidget* viewport = strip.scrollView()->viewport();
        PromoView* copy = strip.episodePromoViews().at(1);
        QTest::mouseClick(copy, Qt::LeftButton, {}, copy->mapFrom(viewport, QPoint(40, 60)));
        QTRY_COMPARE(touched.size(), 1);
        QCOMPARE(touched.last().at(0).toInt(), 4);

        QApplication::setActiveWindow(&strip);
        strip.setFocus();
        QTRY_VERIFY(strip.hasFocus());
        QVERIFY(strip.episodePromoViews()[2]->hasFocusRing());
        QTest::keyClick(&strip, Qt::Key_Right);
        m_clock->advance(1000);
        QCOMPARE(strip.pageControl()->currentPage(), 1);
        QCOMPARE(strip.contentOffset(), 2 * strip.pageWidth());
        // The ring follows the page on show.
        for (int j = 0; j < strip.episodePromoViews().size(); ++j)
            QCOMPARE(strip.episodePromoViews()[j]->hasFocusRing(), j == 3);
        QTest::keyClick(&strip, Qt::Key_Return);
        QCOMPARE(touched.last().at(0).toInt(), 1);
    }

    // ---------------------------------------------------------------- featured screen

    void featuredChainsTheGroups()
    {
        ContainerViewController* hub = startHub();
        serveGroups(sampleGroups());
        auto featured = showFeatured();
        QCOMPARE(featured->sectionTitle(), QStringLiteral("Spotlight"));
        QVERIFY(hub->loadingView()->isShowing());
        QTRY_VERIFY(!featured->vexoAPI());
        QCOMPARE(requestedGroups(), (QStringList{"ipad_previews", "ipad_spotlight", "ipad_primetime"}));
        QTRY_VERIFY(!hub->loadingView()->isShowing());
        QVERIFY(!hub->hasPendingFailureAlert());

        QCOMPARE(featured->previewEpisodes()->size(), 3);
        QCOMPARE(featured->zrpPicksEpisodes().size(), 5);
        QCOMPARE(featured->promoScrollView()->episodePromoViews().size(), 9);
        // One program per title, in case-insensitive title order.
        QStringList programs;
        for (const VEXOProgram& p : *featured->primeTimePrograms())
            programs << p.title();
        QCOMPARE(programs, (QStringList{"apple Hour", "Apple Hour", "Harbor Lights", "zebra Nights"}));

        SegmentedEpisodeSliderView* slider = featured->thumbnailSliderView();
        QCOMPARE(slider->videos().keys(), (QStringList{"Previews", "Primetime"}));
        QCOMPARE(slider->currentSegment(), QStringLiteral("Previews"));
        QVERIFY(!featured->defaultTabBarView()->isHidden());
        QVERIFY(featured->extendedTabBarView()->isHidden());
        // The thumbnails on show get their pictures.
        for (EpisodeThumbnailView* v : slider->episodeThumbnailViews(QStringLiteral("Previews")))
            QVERIFY(!v->hasLoadedImage());
        for (int i = 0; i < 3; ++i)
            servePng(QStringLiteral("/img/v%1-thumb.png").arg(1 + i).toUtf8());
        slider->changeSegment(QStringLiteral("Previews"));
        for (EpisodeThumbnailView* v : slider->episodeThumbnailViews(QStringLiteral("Previews")))
            QTRY_VERIFY(v->hasLoadedImage());
    }

    void featuredFailureStopsTheChain_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("empty");
        QTest::addColumn<QStringList>("requested");
        QTest::addColumn<int>("previews");
        QTest::newRow("previews fail") << "ipad_previews"
                                       << "" << QStringList(4, "ipad_previews") << -1;
        QTest::newRow("spotlight fails")
            << "ipad_spotlight"
            << "" << (QStringList{"ipad_previews"} + QStringList(4, "ipad_spotlight")) << 3;
        QTest::newRow("primetime comes back empty")
            << ""
            << "ipad_primetime" << QStringList{"ipad_previews", "ipad_spotlight", "ipad_primetime"} << 3;
    }

    void featuredFailureStopsTheChain()
    {
        QFETCH(QString, failing);
        QFETCH(QString, empty);
        QFETCH(QStringList, requested);
        QFETCH(int, previews);
        ContainerViewController* hub = startHub();
        serveGroups(sampleGroups(), failing, empty);
        auto featured = showFeatured();
        QTRY_VERIFY(!featured->vexoAPI());
        QVERIFY(hub->hasPendingFailureAlert());
        QVERIFY(!hub->loadingView()->isShowing());
        QCOMPARE(requestedGroups(), requested);
        // What arrived stays; nothing further is asked for.
        QCOMPARE(featured->previewEpisodes() ? int(featured->previewEpisodes()->size()) : -1, previews);
        QVERIFY(!featured->primeTimePrograms());
        QVERIFY(featured->thumbnailSliderView()->videos().isEmpty());
        m_clock->advance(3000);
        QCOMPARE(requestedGroups(), requested);
    }

    void featuredExpiringTab_data()
    {
        QTest::addColumn<double>("previewExpiresInDays");
        QTest::addColumn<bool>("alsoInSpotlight");
        QTest::addColumn<int>("expiring");
        QTest::newRow("nothing expiring") << -1.0 << false << 0;
        QTest::newRow("expires in five days") << 5.0 << false << 1;
        QTest::newRow("expires in seven days") << 7.0 << false << 0;
        QTest::newRow("in two groups, counted twice") << 2.0 << true << 2;
    }

    void featuredExpiringTab()
    {
        QFETCH(double, previewExpiresInDays);
        QFETCH(bool, alsoInSpotlight);
        QFETCH(int, expiring);
        startHub();
        QMap<QString, QJsonArray> groups = sampleGroups(previewExpiresInDays);
        if (alsoInSpotlight)
            groups["ipad_spotlight"].append(groups["ipad_previews"].at(1));
        serveGroups(groups);
        auto featured = showFeatured();
        QTRY_VERIFY(!featured->vexoAPI());
        QCOMPARE(featured->expiringSoonPrograms().size(), expiring);
        SegmentedEpisodeSliderView* slider = featured->thumbnailSliderView();
        QCOMPARE(slider->videos().contains(QStringLiteral("Expiring Soon")), expiring > 0);
        QCOMPARE(featured->extendedTabBarView()->isHidden(), expiring == 0);
        QCOMPARE(featured->defaultTabBarView()->isHidden(), expiring > 0);

        // Tabs switch the slider's segment by the names of the bar on show.
        TabBarViewiPad* bar = expiring ? featured->extendedTabBarView() : featured->defaultTabBarView();
        QTest::mouseClick(bar->buttonItems().at(1), Qt::LeftButton);
        QCOMPARE(slider->currentSegment(), QStringLiteral("Primetime"));
        QCOMPARE(pageViews().last(), QStringLiteral("/previews/primetime"));
        if (expiring) {
            QTest::mouseClick(bar->buttonItems().at(2), Qt::LeftButton);
            QCOMPARE(slider->currentSegment(), QStringLiteral("Expiring Soon"));
            QCOMPARE(slider->episodeThumbnailViews(QStringLiteral("Expiring Soon")).size(), expiring);
            QCOMPARE(pageViews().last(), QStringLiteral("/spotlight/expiringSoon"));
        }
        QTest::mouseClick(bar->buttonItems().at(0), Qt::LeftButton);
        QCOMPARE(slider->currentSegment(), QStringLiteral("Previews"));
        QCOMPARE(pageViews().last(), QStringLiteral("/spotlight/previews"));
    }

    void featuredTouchesOpenPages()
    {
        ContainerViewController* hub = startHub();
        serveGroups(sampleGroups());
        auto featured = showFeatured();
        QTRY_VERIFY(!featured->vexoAPI());
        QVERIFY(featured->isObservingSliderTaps());
        SegmentedEpisodeSliderView* slider = featured->thumbnailSliderView();

        EpisodeThumbnailView* preview = slider->episodeThumbnailViews(QStringLiteral("Previews")).at(2);
        QTest::mouseClick(preview, Qt::LeftButton, {}, preview->imageRect().center());
        QTRY_COMPARE(pageViews().last(), QStringLiteral("/episode/Preview Program 2/Preview 2"));

        QTest::mouseClick(featured->defaultTabBarView()->buttonItems().at(1), Qt::LeftButton);
        EpisodeThumbnailView* program = slider->episodeThumbnailViews(QStringLiteral("Primetime")).at(2);
        QTest::mouseClick(program, Qt::LeftButton, {}, program->imageRect().center());
        QTRY_COMPARE(pageViews().last(), QStringLiteral("/program_page/Harbor Lights"));

        // A promo page opens the strip's video with the page's tag (here a copy of the last).
        PromoView* page = featured->promoScrollView()->episodePromoViews().at(1);
        QTest::mouseClick(
            page, Qt::LeftButton, {},
            page->mapFrom(featured->promoScrollView()->scrollView()->viewport(), QPoint(40, 60)));
        QTRY_COMPARE(pageViews().last(), QStringLiteral("/episode/Pick Program 4/Pick 4"));

        // Off screen, taps are not the featured screen's business.
        featured->willDisappear(false);
        QVERIFY(!featured->isObservingSliderTaps());
        const int before = int(pageViews().size());
        slider->thumbnailTouched(slider->episodeThumbnailViews(QStringLiteral("Primetime")).at(0));
        QCOMPARE(int(pageViews().size()), before);
        Q_UNUSED(hub);
    }

    // The hub tears a screen down while a group is on its way: the answer reaches nobody and
    // the chain goes no further.
    void featuredGoneMidChain()
    {
        startHub();
        serveGroups(sampleGroups(), QString(), QString(), QStringLiteral("ipad_spotlight"));
        auto featured = showFeatured();
        QTRY_COMPARE(m_server->activeCount(), 1);
        QTRY_VERIFY(featured->previewEpisodes().has_value());
        featured->willDisappear(false);
        featured->unloadView();
        QVERIFY(!featured->isObservingSliderTaps());
        featured.reset();
        m_server->releaseHeld();
        QTRY_COMPARE(m_server->activeCount(), 0);
        servePng("/img/sentinel.png");
        RecordingDelegate sentinel;
        ImageRequestQueue after(&sentinel);
        after.enqueueRequestForURLString(base() + "/img/sentinel.png", QStringLiteral("s"));
        QTRY_COMPARE(sentinel.received.size(), 1);
        QCOMPARE(requestedGroups(), (QStringList{"ipad_previews", "ipad_spotlight"}));
    }

    // The whole road against the embedded network: its three groups, its pictures.
    void featuredFromTheEmbeddedNetwork()
    {
        startHub();
        Config::shared().rebindToSandbox(m_sandbox->baseUrl());
        auto featured = showFeatured();
        QTRY_VERIFY_WITH_TIMEOUT(!featured->vexoAPI(), 15000);
        QVERIFY(!ContainerViewController::sharedInstance()->hasPendingFailureAlert());
        QVERIFY(featured->zrpPicksEpisodes().size() >= 5);
        QVERIFY(featured->promoScrollView()->infiniteScrollingAvailable());
        QVERIFY(!featured->primeTimePrograms()->isEmpty());
        QSet<QString> titles;
        for (const VEXOProgram& p : *featured->primeTimePrograms())
            titles.insert(p.title());
        QCOMPARE(titles.size(), featured->primeTimePrograms()->size());
        // Its spotlight holds a video that expires within days.
        QVERIFY(!featured->expiringSoonPrograms().isEmpty());
        QVERIFY(!featured->extendedTabBarView()->isHidden());
        for (EpisodeThumbnailView* v :
             featured->thumbnailSliderView()->episodeThumbnailViews(QStringLiteral("Previews")))
            QTRY_VERIFY_WITH_TIMEOUT(v->hasLoadedImage(), 15000);
        for (PromoView* p : featured->promoScrollView()->episodePromoViews())
            QTRY_VERIFY_WITH_TIMEOUT(p->hasLoadedImage(), 15000);
    }
};

QTEST_MAIN(TestFeatured)
#include "test_featured.moc"
