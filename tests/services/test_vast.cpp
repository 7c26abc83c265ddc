#include "ZRPLiveRailWrapper.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using namespace zrp;

namespace {

QByteArray inlineAd(const QByteArray& linear, const QByteArray& extra = QByteArray())
{
    return "<?xml version=\"1.0\"?><VAST version=\"2.0\"><Ad id=\"1\"><InLine><AdSystem>LR</AdSystem>" +
           extra + "<Creatives><Creative><Linear>" + linear +
           "</Linear></Creative></Creatives></InLine></Ad></VAST>";
}

QByteArray mediaFile(const QByteArray& bitrate, const QByteArray& url, bool cdata = true)
{
    const QByteArray attr = bitrate.isNull() ? QByteArray() : " bitrate=\"" + bitrate + "\"";
    return "<MediaFile type=\"video/mp4\"" + attr + ">" + (cdata ? "<![CDATA[" + url + "]]>" : url) +
           "</MediaFile>";
}

QString samplesDir()
{
    const QString root = qEnvironmentVariable("ZRP_TEST_SOURCE_DIR", QStringLiteral("."));
    return QDir(root).absoluteFilePath(QStringLiteral("../shared/vast-samples"));
}

} // namespace

class TestVast : public QObject
{
    Q_OBJECT

private slots:
    void table_data();
    void table();
    void impressionsAndTracking();
    void onlyTheFirstInLine();
    void hostileInput_data();
    void hostileInput();
    void listsStayBounded();
    void leadingInteger_data();
    void leadingInteger();
    void samples_data();
    void samples();
};

void TestVast::table_data()
{
    QTest::addColumn<QByteArray>("doc");
    QTest::addColumn<int>("ads");
    QTest::addColumn<QString>("adURL"); // null when absent
    QTest::addColumn<QString>("duration");
    QTest::addColumn<QString>("clickURL");

    const QByteArray three = mediaFile("400", "http://m/400.mp4") + mediaFile("800", "http://m/800.mp4") +
                             mediaFile("600", "http://m/600.mp4");
    QTest::newRow("highest bitrate") << inlineAd("<Duration>00:00:30</Duration><MediaFiles>" + three +
                                                 "</MediaFiles>")
                                     << 1 << "http://m/800.mp4"
                                     << "00:00:30" << QString();
    QTest::newRow("equal bitrates first wins") << inlineAd("<MediaFiles>" + mediaFile("500", "http://m/a") +
                                                           mediaFile("500", "http://m/b") + "</MediaFiles>")
                                               << 1 << "http://m/a" << QString() << QString();
    QTest::newRow("zero or missing bitrate never taken")
        << inlineAd("<MediaFiles>" + mediaFile("0", "http://m/z") + mediaFile(QByteArray(), "http://m/n") +
                    "</MediaFiles>")
        << 1 << QString() << QString() << QString();
    QTest::newRow("bitrate not a number") << inlineAd("<MediaFiles>" + mediaFile("fast", "http://m/f") +
                                                      mediaFile("300kbps", "http://m/k") + "</MediaFiles>")
                                          << 1 << "http://m/k" << QString() << QString();
    QTest::newRow("plain text media URL not taken")
        << inlineAd("<MediaFiles>" + mediaFile("500", "http://m/plain", false) + "</MediaFiles>") << 1
        << QString() << QString() << QString();
    QTest::newRow("duration from plain text only")
        << inlineAd("<Duration><![CDATA[00:00:99]]></Duration>") << 1 << QString() << "" << QString();
    QTest::newRow("click through from CDATA")
        << inlineAd("<VideoClicks><ClickThrough><![CDATA[http://c/]]></ClickThrough></VideoClicks>") << 1
        << QString() << QString() << "http://c/";
    QTest::newRow("namespaced VAST 4") << QByteArray("<VAST xmlns=\"http://www.iab.com/VAST\"><Ad><InLine>" +
                                                     mediaFile("10", "u") + "</InLine></Ad></VAST>")
                                       << 1 << "u" << QString() << QString();
    QTest::newRow("no InLine") << QByteArray(
                                      "<VAST version=\"2.0\"><Ad><Wrapper><VASTAdTagURI><![CDATA[http://x]]>"
                                      "</VASTAdTagURI></Wrapper></Ad></VAST>")
                               << 0 << QString() << QString() << QString();
    QTest::newRow("element names are case-sensitive")
        << QByteArray("<VAST><Ad><inline>" + mediaFile("5", "u") + "</inline></Ad></VAST>") << 0 << QString()
        << QString() << QString();
    QTest::newRow("empty VAST") << QByteArray("<VAST version=\"2.0\"/>") << 0 << QString() << QString()
                                << QString();
}

void TestVast::table()
{
    QFETCH(QByteArray, doc);
    QFETCH(int, ads);
    QFETCH(QString, adURL);
    QFETCH(QString, duration);
    QFETCH(QString, clickURL);
    const QVariantList list = ZRPLiveRailWrapper::adsFromVAST(doc);
    QCOMPARE(list.size(), ads);
    if (!ads)
        return;
    const QVariantMap ad = list.first().toMap();
    QCOMPARE(ad.value("adURL").toString(), adURL);
    QCOMPARE(ad.contains("adURL"), !adURL.isNull());
    QCOMPARE(ad.value("Duration").toString(), duration);
    QCOMPARE(ad.contains("Duration"), !duration.isNull());
    QCOMPARE(ad.value("clickURL").toString(), clickURL);
}

void TestVast::impressionsAndTracking()
{
    const QByteArray doc = inlineAd(
        "<TrackingEvents><Tracking event=\"midpoint\"><![CDATA[http://t/mid]]></Tracking>"
        "<Tracking event=\"firstQuartile\"><![CDATA[http://t/q1]]></Tracking>"
        "<Tracking event=\"firstQuartile\"><![CDATA[http://t/q1b]]></Tracking>"
        "<Tracking event=\"complete\">http://t/plain</Tracking></TrackingEvents>",
        "<Impression><![CDATA[http://i/1]]></Impression><Impression><![CDATA[http://i/2]]></Impression>");
    Error error;
    auto w = ZRPAPIWrapper::wrapperOfType(ZRPAPITypeLiveRail, {});
    const QVariantList list = w->resultsFromData(doc, &error).toList();
    QVERIFY(!error);
    QCOMPARE(list.size(), 1);
    const QVariantMap ad = list.first().toMap();
    QCOMPARE(ad.value("Impressions").toStringList(), (QStringList{"http://i/1", "http://i/2"}));
    const QVariantMap events = ad.value("TrackingEvents").toMap();
    QCOMPARE(events.value("firstQuartile").toStringList(), (QStringList{"http://t/q1", "http://t/q1b"}));
    QCOMPARE(events.value("midpoint").toStringList(), QStringList{"http://t/mid"});
    QVERIFY(!events.contains("complete")); // plain text is not a URL here
}

void TestVast::onlyTheFirstInLine()
{
    QByteArray doc = "<VAST>";
    for (int i = 1; i <= 3; ++i)
        doc += "<Ad><InLine>" + mediaFile("100", "http://m/" + QByteArray::number(i)) + "</InLine></Ad>";
    doc += "</VAST>";
    const QVariantList list = ZRPLiveRailWrapper::adsFromVAST(doc);
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.first().toMap().value("adURL").toString(), QStringLiteral("http://m/1"));
}

void TestVast::hostileInput_data()
{
    QTest::addColumn<QByteArray>("doc");
    QTest::addColumn<int>("ads");
    const QByteArray good = inlineAd(mediaFile("100", "http://m/ok"));
    QTest::newRow("not XML") << QByteArray("{\"json\": true}") << 0;
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe<<<>>>", 9) << 0;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("truncated in InLine") << good.left(good.indexOf("</InLine>")) << 0;
    QTest::newRow("truncated after InLine") << good.left(good.indexOf("</Ad>")) << 1;
    QTest::newRow("internal entities")
        << QByteArray(
               "<?xml version=\"1.0\"?><!DOCTYPE VAST [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;"
               "&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
               "<VAST><Ad><InLine><Duration>&c;</Duration>" +
               mediaFile("1", "u") + "</InLine></Ad></VAST>")
        << 0;
    QTest::newRow("external entity")
        << QByteArray("<!DOCTYPE VAST [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><VAST><Ad><InLine>"
                      "<Duration>&x;</Duration></InLine></Ad></VAST>")
        << 0;
    QTest::newRow("undeclared entity")
        << QByteArray("<VAST><Ad><InLine><Duration>&x;</Duration></InLine></Ad></VAST>") << 0;
    QByteArray deep = "<VAST><Ad><InLine>" + QByteArray("<a>").repeated(100000) + mediaFile("1", "u") +
                      QByteArray("</a>").repeated(100000) + "</InLine></Ad></VAST>";
    QTest::newRow("deep nesting") << deep << 0;
    QTest::newRow("a million elements")
        << QByteArray("<VAST>" + QByteArray("<x/>").repeated(1000000) + "<Ad><InLine>" + mediaFile("1", "u") +
                      "</InLine></Ad></VAST>")
        << 1;
}

void TestVast::hostileInput()
{
    QFETCH(QByteArray, doc);
    QFETCH(int, ads);
    QCOMPARE(ZRPLiveRailWrapper::adsFromVAST(doc).size(), ads);
}

void TestVast::listsStayBounded()
{
    QByteArray extra = QByteArray("<Impression><![CDATA[http://i]]></Impression>").repeated(100000);
    QByteArray tracking = "<TrackingEvents>";
    for (int i = 0; i < 1000; ++i)
        tracking += "<Tracking event=\"e" + QByteArray::number(i) + "\"><![CDATA[http://t]]></Tracking>";
    tracking += QByteArray("<Tracking event=\"e0\"><![CDATA[http://t]]></Tracking>").repeated(1000);
    tracking += "</TrackingEvents><Duration>" + QByteArray("0").repeated(1000000) + "</Duration>";
    const QVariantList list = ZRPLiveRailWrapper::adsFromVAST(inlineAd(tracking, extra));
    QCOMPARE(list.size(), 1);
    const QVariantMap ad = list.first().toMap();
    QCOMPARE(ad.value("Impressions").toList().size(), ZRPLiveRailWrapper::kMaxUrlsPerList);
    const QVariantMap events = ad.value("TrackingEvents").toMap();
    QCOMPARE(events.size(), ZRPLiveRailWrapper::kMaxTrackingEvents);
    QCOMPARE(events.value("e0").toList().size(), ZRPLiveRailWrapper::kMaxUrlsPerList);
    QCOMPARE(ad.value("Duration").toString().size(), ZRPLiveRailWrapper::kMaxDurationChars);
}

void TestVast::leadingInteger_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "800" << 800;
    QTest::newRow("blanks and suffix") << "  30kbps" << 30;
    QTest::newRow("fraction dropped") << "05.250" << 5;
    QTest::newRow("negative") << "-7" << -7;
    QTest::newRow("none") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("huge saturates") << "99999999999999999999" << INT_MAX;
    QTest::newRow("huge negative") << "-99999999999999999999" << INT_MIN;
}

void TestVast::leadingInteger()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(zrp::leadingInteger(text), value);
}

// Real VAST answers written elsewhere, read where they lie.
void TestVast::samples_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("ads");
    QTest::addColumn<QString>("adURL"); // trimmed; null when no media URL is taken
    QTest::addColumn<QString>("duration");
    QTest::addColumn<int>("impressions");
    const QString v4 = QStringLiteral("iab-vast4.0/");
    const QString il = QStringLiteral("iab-vast2.0/inline-linear/");
    QTest::newRow("regular linear")
        << il + "Inline_LinearRegular_VAST2.0.xml" << 1
        << "https://iab-publicfiles.s3.amazonaws.com/vast/VAST-4.0-Short-Intro.mp4"
        << "00:00:30" << 1;
    QTest::newRow("vpaid mp4") << il + "Inline_LinearVAST2vpaid.xml" << 1 << "*"
                               << "00:00:15" << 1;
    QTest::newRow("verification") << il + "Inline_NonLinear_Verification_VAST2.0.xml" << 1 << "*"
                                  << "00:00:30" << 1;
    QTest::newRow("tremor regular flv") << il + "tremor_vast2RegularLinear.xml" << 1 << "*"
                                        << "00:00:30" << 1;
    QTest::newRow("tremor swf without bitrate")
        << il + "tremor_vast2VPAIDLinear.xml" << 1 << QString() << "00:00:01" << -1;
    QTest::newRow("tremor plain text URLs")
        << il + "tremor_vast_inline_linear.xml" << 1 << QString() << "00:00:30" << 0;
    for (const char* w : {"tremor_vast_wrapper_linear_1.xml", "tremor_vast_wrapper_linear_2.xml",
                          "tremor_vast_wrapper_nonlinear_1.xml", "tremor_vast_wrapper_nonlinear_2.xml"}) {
        QTest::newRow(w) << "iab-vast2.0/wrapper/" + QString::fromLatin1(w) << 0 << QString() << QString()
                         << 0;
    }
    QTest::newRow("nonlinear overlay")
        << "iab-vast2.0/other/Inline_NonLinear_VAST2.0.xml" << 1 << QString() << QString() << 0;
    QTest::newRow("ten ads") << "iab-vast2.0/other/iab_sample_vast2.0_multi_ad.xml" << 1 << QString()
                             << QString() << -1;
    QTest::newRow("vast4 three bitrates")
        << v4 + "Inline_Linear_Tag-test.xml" << 1
        << "https://iab-publicfiles.s3.amazonaws.com/vast/VAST-4.0-Short-Intro.mp4"
        << "00:00:16" << 0;
    QTest::newRow("vast3 wrapper") << v4 + "vast3.0_Wrapper_Tag-test.xml" << 0 << QString() << QString() << 0;
    QTest::newRow("empty open close") << "empty/no_ads_open_close.xml" << 0 << QString() << QString() << 0;
    QTest::newRow("empty self closing")
        << "empty/no_ads_self_closing.xml" << 0 << QString() << QString() << 0;
}

void TestVast::samples()
{
    QFETCH(QString, file);
    QFETCH(int, ads);
    QFETCH(QString, adURL);
    QFETCH(QString, duration);
    QFETCH(int, impressions);
    QFile f(QDir(samplesDir()).absoluteFilePath(file));
    if (!f.exists())
        QSKIP("the shared VAST samples are not next to the repository");
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QVariantList list = ZRPLiveRailWrapper::adsFromVAST(f.readAll());
    QCOMPARE(list.size(), ads);
    if (!ads)
        return;
    const QVariantMap ad = list.first().toMap();
    const QString url = ad.value("adURL").toString().trimmed();
    if (adURL.isNull())
        QVERIFY2(url.isEmpty(), qPrintable(url));
    else if (adURL.startsWith('*'))
        QVERIFY2(!url.isEmpty() && url.contains(QString(adURL).remove('*')), qPrintable(url));
    else
        QCOMPARE(url, adURL);
    QCOMPARE(ad.value("Duration").toString().trimmed(), duration);
    if (impressions >= 0)
        QCOMPARE(ad.value("Impressions").toList().size(), impressions);
}

QTEST_GUILESS_MAIN(TestVast)
#include "test_vast.moc"
