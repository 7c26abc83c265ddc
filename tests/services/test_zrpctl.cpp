#include "SandboxServer.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace zrp;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run zrpctl(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(ZRPCTL_BIN), args);
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().trimmed();
    r.err = p.readAllStandardError();
    return r;
}

QString samples()
{
    return QDir(qEnvironmentVariable("ZRP_TEST_SOURCE_DIR", ".")).absoluteFilePath("../shared/vast-samples");
}

} // namespace

class TestZrpctl : public QObject
{
    Q_OBJECT

private slots:
    void sign_data();
    void sign();
    void badArguments_data();
    void badArguments();
    void vast();
    void getThroughTheAdapters();
};

void TestZrpctl::sign_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("vexo")
        << QStringList{"sign",           "vexo",      "http://api.example/vexo/v1/videos/",
                       "--consumer-key", "KEY",       "--secret-key",
                       "SECRET",         "--nonce",   "N1",
                       "--timestamp",    "1700000000"}
        << QByteArray("http://api.example/vexo/v1/videos/?timestamp=1700000000&nonce=N1&consumer_key=KEY"
                      "&signature=33f8b6a2d7aaf9a770859429b8c9e02ac134a88e");
    QTest::newRow("oauth reference example")
        << QStringList{"sign",
                       "oauth",
                       "http://photos.example.net/photos?file=vacation.jpg&size=original",
                       "--consumer-key",
                       "dpf43f3p2l4k3l03",
                       "--consumer-secret",
                       "kd94hf93k423kf44",
                       "--token-key",
                       "nnch734d00sl2jdk",
                       "--token-secret",
                       "pfkkdhi9sl3r4s00",
                       "--nonce",
                       "kllo9940pd9333jh",
                       "--timestamp",
                       "1191242096"}
        << QByteArray(
               "http://photos.example.net/photos?file=vacation.jpg&size=original"
               "&oauth_consumer_key=dpf43f3p2l4k3l03&oauth_token=nnch734d00sl2jdk"
               "&oauth_signature_method=HMAC-SHA1&oauth_timestamp=1191242096&oauth_nonce=kllo9940pd9333jh"
               "&oauth_version=1.0&oauth_signature=tR3%2BTy81lMeYAr%2FFid0kMTYa%2FWM%3D");
    QTest::newRow("apikey escapes the query first")
        << QStringList{"sign", "apikey", "http://h/tvss/x/?day=a b", "--consumer-key", "K"}
        << QByteArray("http://h/tvss/x/?day=a+b&apikey=K");
}

void TestZrpctl::sign()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, expected);
    const Run r = zrpctl(args);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, expected);
}

void TestZrpctl::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("unknown command") << QStringList{"frobnicate"};
    QTest::newRow("missing secret") << QStringList{"sign", "vexo", "http://h/", "--consumer-key", "K"};
    QTest::newRow("nonce without timestamp") << QStringList{
        "sign", "vexo", "http://h/", "--consumer-key", "K", "--secret-key", "S", "--nonce", "N"};
    QTest::newRow("dangling option") << QStringList{"sign", "apikey", "http://h/", "--consumer-key"};
    QTest::newRow("unknown scheme") << QStringList{"sign", "rot13", "http://h/"};
    QTest::newRow("unknown type") << QStringList{"get", "7", "http://h/"};
    QTest::newRow("signing info not JSON") << QStringList{"get", "vexo", "http://h/", "--signing-info", "{"};
}

void TestZrpctl::badArguments()
{
    QFETCH(QStringList, args);
    const Run r = zrpctl(args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.out.isEmpty());
    QVERIFY(r.err.contains("usage") || r.err.contains("zrpctl:"));
}

void TestZrpctl::vast()
{
    QTemporaryDir dir;
    const QString mine = dir.filePath("ad.xml");
    QFile f(mine);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<VAST version=\"2.0\"><Ad><InLine><Impression><![CDATA[ http://i/1 "
            "]]></Impression><Creatives><Creative>"
            "<Linear><Duration>00:01:05.250</Duration><TrackingEvents><Tracking "
            "event=\"midpoint\"><![CDATA[http://t/m]]>"
            "</Tracking></TrackingEvents><VideoClicks><ClickThrough><![CDATA[http://c/]]></ClickThrough></"
            "VideoClicks>"
            "<MediaFiles><MediaFile bitrate=\"400\"><![CDATA[http://m/400]]></MediaFile><MediaFile "
            "bitrate=\"800\">"
            "<![CDATA[http://m/800]]></MediaFile></MediaFiles></Linear></Creative></Creatives></InLine></"
            "Ad></VAST>");
    f.close();
    Run r = zrpctl({"vast", mine});
    QCOMPARE(r.exitCode, 0);
    const QJsonArray ads = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(ads.size(), 1);
    const QJsonObject ad = ads[0].toObject();
    QCOMPARE(ad.value("adUrl").toString(), QStringLiteral("http://m/800"));
    QCOMPARE(ad.value("adClickUrl").toString(), QStringLiteral("http://c/"));
    QCOMPARE(ad.value("duration").toDouble(), 65.0);
    QCOMPARE(ad.value("impressions").toArray(), QJsonArray{"http://i/1"});
    QCOMPARE(ad.value("trackingEvents").toObject().value("midpoint").toArray(), QJsonArray{"http://t/m"});

    // No ad, not XML, and a document of others: an empty array; only an unreadable file fails.
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write("this is not XML");
    f.close();
    r = zrpctl({"vast", mine});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray("[]"));
    if (QFile::exists(samples())) {
        r = zrpctl({"vast", samples() + "/iab-vast2.0/wrapper/tremor_vast_wrapper_linear_1.xml"});
        QCOMPARE(r.out, QByteArray("[]"));
        r = zrpctl({"vast", samples() + "/iab-vast2.0/inline-linear/Inline_LinearRegular_VAST2.0.xml"});
        QCOMPARE(QJsonDocument::fromJson(r.out).array().size(), 1);
    }
    r = zrpctl({"vast", dir.filePath("missing.xml")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.out.isEmpty());
}

void TestZrpctl::getThroughTheAdapters()
{
    SandboxServer sandbox;
    QString error;
    QVERIFY2(sandbox.start(&error), qPrintable(error));
    const QString base = sandbox.baseUrl().toString();

    Run r = zrpctl(
        {"get", "liverail", base + "/liverail/?LR_PUBLISHER_ID=7314&LR_SCHEMA=vast2&LR_VIDEO_POSITION=0"});
    QCOMPARE(r.exitCode, 0);
    const QJsonArray ads = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(ads.size(), 1);
    QVERIFY(ads[0].toObject().value("adURL").toString().contains("-1200k.mp4"));

    r = zrpctl({"get", "4", base + "/liverail/?LR_PUBLISHER_ID=9999&LR_SCHEMA=vast2&LR_VIDEO_POSITION=0"});
    QCOMPARE(r.exitCode, 1);
    const QJsonObject e = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(e.value("code").toInt(), 503);
    QVERIFY(e.value("domain").toString().endsWith("apiwrapper"));
    QVERIFY(e.contains("message"));

    // The catalog refuses a wrong signature with its own error shape, rebuilt by the catalog adapter.
    r = zrpctl({"get", "vexo", base + "/vexo/v1/programs/", "--signing-info",
                R"({"consumerKey": "ZRPVPAD-4348D2E8-CC98-4569-90F5-EEC5ACC6279C", "secretKey": "wrong"})"});
    QCOMPARE(r.exitCode, 1);
    const QJsonObject refused = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(refused.value("code").toInt(), 401);
    QVERIFY(refused.value("domain").toString().endsWith("vexo"));
}

QTEST_GUILESS_MAIN(TestZrpctl)
#include "test_zrpctl.moc"
