#include "LoopbackServer.h"
#include "ZRPAPIJSON.h"
#include "ZRPAPIWrapper.h"
#include "ZRPCommunication.h"
#include "ZRPLiveRailWrapper.h"
#include "ZRPRequestSigner.h"
#include "core/Clock.h"
#include "core/RunLoop.h"
#include "core/WorkQueue.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <mutex>

using namespace zrp;
using zrp::test::LoopbackServer;

namespace {

// What reached a delegate or a callback, written from the background queue.
struct Outcome
{
    std::mutex mutex;
    int finished = 0;
    int failed = 0;
    QByteArray body;
    QVariant results;
    Error error;
    bool onMainThread = false;

    int count()
    {
        std::lock_guard lock(mutex);
        return finished + failed;
    }
};

class RecordingDelegate : public ZRPCommunicationDelegate
{
public:
    Outcome out;
    void didFinishWithData(const ZRPRequestPtr&, const QByteArray& data) override
    {
        std::lock_guard lock(out.mutex);
        ++out.finished;
        out.body = data;
        out.onMainThread = RunLoop::isMainThread();
    }
    void didFailWithError(const ZRPRequestPtr&, const Error& error) override
    {
        std::lock_guard lock(out.mutex);
        ++out.failed;
        out.error = error;
        out.onMainThread = RunLoop::isMainThread();
    }
};

ZRPAPIWrapper::CompletionBlock completionInto(const std::shared_ptr<Outcome>& o)
{
    return [o](const QVariant& results) {
        std::lock_guard lock(o->mutex);
        ++o->finished;
        o->results = results;
        o->onMainThread = RunLoop::isMainThread();
    };
}

ZRPAPIWrapper::ErrorBlock errorInto(const std::shared_ptr<Outcome>& o)
{
    return [o](const Error& e) {
        std::lock_guard lock(o->mutex);
        ++o->failed;
        o->error = e;
        o->onMainThread = RunLoop::isMainThread();
    };
}

ZRPSigningInfo catalogInfo()
{
    return {{"consumerKey", "KEY"}, {"secretKey", "SECRET"}, {"nonce", "N1"}, {"timestamp", "1700000000"}};
}

} // namespace

class TestServices : public QObject
{
    Q_OBJECT

private slots:
    // ---- signing
    void signatureForText();
    void catalogSignatureWithoutQuery();
    void catalogSignatureOrdersQueryAroundOwnParameters();
    void catalogSignatureIsStableWithGivenNonceAndTimestamp();
    void oAuthAgainstTheReferenceExample();
    void oAuthSignsFormBodyButKeepsItOutOfTheURL();
    void apiKey_data();
    void apiKey();
    void timeStampFollowsTheClock();
    void missingSigningKeysStayDefined();

    // ---- escaping and JSON
    void urlWithEncodedParams_data();
    void urlWithEncodedParams();
    void jsonReadersNeverFailOnShape_data();
    void jsonReadersNeverFailOnShape();
    void jsonWriting();

    // ---- factory
    void wrapperOfType_data();
    void wrapperOfType();

    // ---- connections
    void statusBoundary_data();
    void statusBoundary();
    void nullRequestFailsAtOnceWith1001();
    void cancelIsSilentAndClearsTheRegistry();
    void cancellingAnUnknownRequestDoesNothing();
    void redirectKeepsOnlyTheLastBody();
    void nothingIsCached();

    // ---- wrapper
    void wrapperSendsEscapedQueryAndSignature();
    void wrapperFormAndJSONBodies();
    void sameIdKeepsOnlyTheSecondRequest();
    void rebuiltErrors_data();
    void rebuiltErrors();
    void cancelRequestWithIdIsSilent();

private:
    LoopbackServer m_server;
};

// ---- signing

void TestServices::signatureForText()
{
    // RFC 5849 section 1.2: the photo request's signature base string and key.
    const QString base = QStringLiteral(
        "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_consumer_key%"
        "3Ddpf43f3p2l4k3l03"
        "%26oauth_nonce%3DchapoH%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D137131202"
        "%26oauth_token%3Dnnch734d00sl2jdk%26size%3Doriginal");
    QCOMPARE(ZRPRequestSigner::signatureForText(base, "kd94hf93k423kf44&pfkkdhi9sl3r4s00", true),
             QStringLiteral("MdpQcU8iPSUjWoN/UDMsK2sui9I="));
    const QString hex = ZRPRequestSigner::signatureForText(base, "kd94hf93k423kf44&pfkkdhi9sl3r4s00", false);
    QCOMPARE(hex, QStringLiteral("31da50714f223d25235a837f50332c2b6b2e8bd2"));
}

void TestServices::catalogSignatureWithoutQuery()
{
    ZRPURLRequest r(QStringLiteral("http://api.example/vexo/v1/videos/"));
    QCOMPARE(
        ZRPRequestSigner::catalogTextToSign(r, catalogInfo()),
        QStringLiteral("GEThttp://api.example/vexo/v1/videos/?consumer_key=KEY&nonce=N1&timestamp=1700000000"
                       "1700000000KEYN1"));
    ZRPRequestSigner::signRequest(r, catalogInfo());
    QCOMPARE(r.urlString,
             QStringLiteral("http://api.example/vexo/v1/videos/?timestamp=1700000000&nonce=N1"
                            "&consumer_key=KEY&signature=33f8b6a2d7aaf9a770859429b8c9e02ac134a88e"));
    QVERIFY(r.headers.isEmpty()); // all in the query
}

void TestServices::catalogSignatureOrdersQueryAroundOwnParameters()
{
    // The wrapper has already escaped the query: "u=2/3" travels as "u=2%2F3".
    ZRPURLRequest r(QStringLiteral("http://api.example/vexo/v1/videos/?u=2%2F3&a=1"));
    QCOMPARE(ZRPRequestSigner::catalogTextToSign(r, catalogInfo()),
             QStringLiteral("GEThttp://api.example/vexo/v1/videos/?a=1&consumer_key=KEY&nonce=N1"
                            "&timestamp=1700000000&u=2%2F31700000000KEYN1"));
    ZRPRequestSigner::signRequest(r, catalogInfo());
    // In the URL the query keeps its place before the own parameters.
    QCOMPARE(r.urlString,
             QStringLiteral("http://api.example/vexo/v1/videos/?u=2%2F3&a=1&timestamp=1700000000"
                            "&nonce=N1&consumer_key=KEY&signature=a772ce2e8952ad1761f842afca5dced4eff8778a"));
}

void TestServices::catalogSignatureIsStableWithGivenNonceAndTimestamp()
{
    ZRPURLRequest a(QStringLiteral("http://h/p?x=1")), b(QStringLiteral("http://h/p?x=1"));
    ZRPRequestSigner::signRequest(a, catalogInfo());
    ZRPRequestSigner::signRequest(b, catalogInfo());
    QCOMPARE(a.urlString, b.urlString);

    // Without them each signing draws its own nonce, made of letters, digits and hyphens.
    ZRPSigningInfo info{{"consumerKey", "KEY"}, {"secretKey", "SECRET"}};
    ZRPURLRequest c(QStringLiteral("http://h/p")), d(QStringLiteral("http://h/p"));
    ZRPRequestSigner::signRequest(c, info);
    ZRPRequestSigner::signRequest(d, info);
    QVERIFY(c.urlString != d.urlString);
    const QRegularExpression nonce(QStringLiteral("[?&]nonce=([A-Za-z0-9-]+)&"));
    QVERIFY(nonce.match(c.urlString).hasMatch());
}

void TestServices::oAuthAgainstTheReferenceExample()
{
    // The photo example of the OAuth 1.0 protocol (with oauth_version), whose signature is
    // tR3+Ty81lMeYAr/Fid0kMTYa/WM=.
    ZRPSigningInfo info{{"consumerKey", "dpf43f3p2l4k3l03"}, {"consumerSecret", "kd94hf93k423kf44"},
                        {"tokenKey", "nnch734d00sl2jdk"},    {"tokenSecret", "pfkkdhi9sl3r4s00"},
                        {"nonce", "kllo9940pd9333jh"},       {"timestamp", "1191242096"}};
    ZRPURLRequest r(QStringLiteral("http://photos.example.net/photos?file=vacation.jpg&size=original"));
    QCOMPARE(ZRPRequestSigner::oAuthBaseText(r, info),
             QStringLiteral("GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg"
                            "%26oauth_consumer_key%3Ddpf43f3p2l4k3l03%26oauth_nonce%3Dkllo9940pd9333jh"
                            "%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D1191242096"
                            "%26oauth_token%3Dnnch734d00sl2jdk%26oauth_version%3D1.0%26size%3Doriginal"));
    ZRPRequestSigner::oAuthSignRequest(r, info);
    QCOMPARE(r.urlString, QStringLiteral("http://photos.example.net/photos?file=vacation.jpg&size=original"
                                         "&oauth_consumer_key=dpf43f3p2l4k3l03&oauth_token=nnch734d00sl2jdk"
                                         "&oauth_signature_method=HMAC-SHA1&oauth_timestamp=1191242096"
                                         "&oauth_nonce=kllo9940pd9333jh&oauth_version=1.0"
                                         "&oauth_signature=tR3%2BTy81lMeYAr%2FFid0kMTYa%2FWM%3D"));
}

void TestServices::oAuthSignsFormBodyButKeepsItOutOfTheURL()
{
    ZRPSigningInfo info{{"consumerKey", "ck"}, {"consumerSecret", "cs"}, {"tokenKey", "tk"},
                        {"tokenSecret", "ts"}, {"nonce", "n"},           {"timestamp", "1"}};
    ZRPURLRequest r(QStringLiteral("http://h/api/v1.0/users/"));
    r.httpMethod = "POST";
    r.httpBody = "zeta=1&alpha=2";
    r.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
    const QString base = ZRPRequestSigner::oAuthBaseText(r, info);
    QVERIFY2(
        base.startsWith(QStringLiteral("POST&http%3A%2F%2Fh%2Fapi%2Fv1.0%2Fusers%2F&alpha%3D2%26oauth_")),
        qPrintable(base));
    QVERIFY(base.endsWith(QStringLiteral("%26zeta%3D1")));
    ZRPRequestSigner::oAuthSignRequest(r, info);
    QVERIFY(!r.urlString.contains(QStringLiteral("alpha")));

    // Without the form content type the body takes no part.
    ZRPURLRequest plain(QStringLiteral("http://h/api/v1.0/users/"));
    plain.httpMethod = "POST";
    plain.httpBody = "zeta=1&alpha=2";
    QVERIFY(!ZRPRequestSigner::oAuthBaseText(plain, info).contains(QStringLiteral("alpha")));
}

void TestServices::apiKey_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");
    QTest::newRow("with query") << "http://h/tvss/x/?a=1"
                                << "http://h/tvss/x/?a=1&apikey=K+1";
    QTest::newRow("without query") << "http://h/tvss/x/"
                                   << "http://h/tvss/x/?apikey=K+1";
    QTest::newRow("query text also in path") << "http://h/a=1/?a=1"
                                             << "http://h/a=1/?a=1&apikey=K+1";
}

void TestServices::apiKey()
{
    QFETCH(QString, url);
    QFETCH(QString, expected);
    ZRPURLRequest r(url);
    ZRPRequestSigner::signApiRequest(r, {{"consumerKey", "K+1"}}); // inserted as stored
    QCOMPARE(r.urlString, expected);
}

void TestServices::timeStampFollowsTheClock()
{
    VirtualClock clock(QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
    VirtualClock::Scope scope(clock);
    QCOMPARE(ZRPRequestSigner::timeStamp(), QStringLiteral("1700000000"));
    clock.advance(1999);
    QCOMPARE(ZRPRequestSigner::timeStamp(), QStringLiteral("1700000001"));
}

void TestServices::missingSigningKeysStayDefined()
{
    // The signer is reachable without the factory's checks (zrpctl, tests): absent keys sign as
    // empty texts rather than failing.
    ZRPURLRequest a(QStringLiteral("http://h/p?x=1")), b(QStringLiteral("http://h/p?x=1")),
        c(QStringLiteral("http://h/p?x=1"));
    const ZRPSigningInfo fixed{{"nonce", "n"}, {"timestamp", "1"}};
    ZRPRequestSigner::signRequest(a, fixed);
    ZRPRequestSigner::oAuthSignRequest(b, fixed);
    ZRPRequestSigner::signApiRequest(c, {});
    QCOMPARE(a.urlString.left(a.urlString.indexOf(QStringLiteral("&signature="))),
             QStringLiteral("http://h/p?x=1&timestamp=1&nonce=n&consumer_key="));
    QVERIFY(b.urlString.contains(QStringLiteral("oauth_consumer_key=&oauth_token=&")));
    QCOMPARE(c.urlString, QStringLiteral("http://h/p?x=1&apikey="));
}

// ---- escaping

void TestServices::urlWithEncodedParams_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");
    QTest::newRow("space becomes plus") << "http://h/p?q=a b"
                                        << "http://h/p?q=a+b";
    QTest::newRow("plus escaped") << "http://h/p?q=a+b"
                                  << "http://h/p?q=a%2Bb";
    QTest::newRow("slash escaped") << "http://h/p?f=video/mp4"
                                   << "http://h/p?f=video%2Fmp4";
    QTest::newRow("commas and colon") << "http://h/p?t=a,b:c"
                                      << "http://h/p?t=a%2Cb%3Ac";
    QTest::newRow("equals stays in value") << "http://h/p?x=a=b"
                                           << "http://h/p?x=a%3Db";
    QTest::newRow("ampersand splits the value") << "http://h/p?q=a&b"
                                                << "http://h/p?q=a&b";
    QTest::newRow("percent escaped") << "http://h/p?q=100%"
                                     << "http://h/p?q=100%25";
    QTest::newRow("literal %20 kept") << "http://h/p?q=%20"
                                      << "http://h/p?q=%2520";
    QTest::newRow("non-ASCII") << QString::fromUtf8("http://h/p?q=caf\xc3\xa9 \xe2\x82\xac")
                               << "http://h/p?q=caf%C3%A9+%E2%82%AC";
    QTest::newRow("unreserved untouched") << "http://h/p?q=a-b.c_d~e"
                                          << "http://h/p?q=a-b.c_d~e";
    QTest::newRow("no query") << "http://h/p q"
                              << "http://h/p q";
    QTest::newRow("two question marks") << "http://h/p?a=1?b=2"
                                        << "http://h/p?a=1?b=2";
    QTest::newRow("query text also in host") << "http://b/p?b"
                                             << "http://b/p?b";
    QTest::newRow("trailing ampersand dropped") << "http://h/p?a=1&"
                                                << "http://h/p?a=1";
    QTest::newRow("empty query") << "http://h/p?"
                                 << "http://h/p?";
}

void TestServices::urlWithEncodedParams()
{
    QFETCH(QString, url);
    QFETCH(QString, expected);
    QCOMPARE(ZRPAPIWrapper::urlWithEncodedParams(url), expected);
}

void TestServices::jsonReadersNeverFailOnShape_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("isError");
    QTest::addColumn<QString>("resultsJson"); // results written back as JSON; "" for none
    QTest::newRow("vexo results") << 0 << QByteArray(R"({"results":[1,2]})") << false << "[1,2]";
    QTest::newRow("vexo array top") << 0 << QByteArray("[1]") << false << "";
    QTest::newRow("vexo no results") << 0 << QByteArray(R"({"x":1})") << false << "";
    QTest::newRow("vexo not JSON") << 0 << QByteArray("<html>") << true << "";
    QTest::newRow("vexo invalid UTF-8")
        << 0 << QByteArray("{\"results\":\"\xff\"}") << false << "\"\xef\xbf\xbd\"";
    QTest::newRow("kyr wraps") << 2 << QByteArray(R"({"a":1})") << false << R"([{"a":1}])";
    QTest::newRow("dtv itself") << 3 << QByteArray("[3]") << false << "[3]";
    QTest::newRow("dtv not JSON") << 3 << QByteArray("oops") << true << "";
    QTest::newRow("search wraps") << 5 << QByteArray("[]") << false << "[[]]";
    QTest::newRow("push results") << 6 << QByteArray(R"({"notifications":{"results":[7]}})") << false
                                  << "[7]";
    QTest::newRow("push wrong shape") << 6 << QByteArray(R"({"notifications":[1]})") << false << "";
    QTest::newRow("push empty body") << 6 << QByteArray() << true << "";
}

void TestServices::jsonReadersNeverFailOnShape()
{
    QFETCH(int, type);
    QFETCH(QByteArray, body);
    QFETCH(bool, isError);
    QFETCH(QString, resultsJson);
    ZRPSigningInfo info{{"consumerKey", "k"},
                        {"secretKey", "s"},
                        {"consumerSecret", "c"},
                        {"tokenKey", "t"},
                        {"tokenSecret", "u"}};
    auto w = ZRPAPIWrapper::wrapperOfType(type, info);
    QVERIFY(w);
    Error error;
    const QVariant results = w->resultsFromData(body, &error);
    QCOMPARE(bool(error), isError);
    if (resultsJson.isEmpty()) {
        QVERIFY(!results.isValid() || results.isNull());
    } else {
        QCOMPARE(QJsonDocument::fromVariant(QVariantList{results}).toJson(QJsonDocument::Compact),
                 ("[" + resultsJson + "]").toUtf8());
    }
    if (type == ZRPAPITypeDTV && isError) {
        QCOMPARE(error.domain, ZRPDTVErrorDomain);
        QCOMPARE(error.code, 1000);
        QCOMPARE(error.message(), QString::fromUtf8(body));
    }
}

void TestServices::jsonWriting()
{
    const QVariantMap map{{"name", QString::fromUtf8("Caf\xc3\xa9 & \"quotes\"")},
                          {"list", QVariantList{1, true, QVariant()}},
                          {"nested", QVariantMap{{"a", 1.5}}}};
    Error error;
    const QByteArray bytes = ZRPAPIJSON::JSONDataFromDictionary(map, &error);
    QVERIFY(!error);
    const QVariant back = ZRPAPIJSON::dictionaryFromJSONData(bytes, &error);
    QVERIFY(!error);
    QCOMPARE(back.toMap().value("name").toString(), map.value("name").toString());
    QCOMPARE(back.toMap().value("list").toList().size(), 3);
    QVERIFY(back.toMap().value("list").toList().at(2).isNull());
    QCOMPARE(back.toMap().value("nested").toMap().value("a").toDouble(), 1.5);
}

// ---- factory

void TestServices::wrapperOfType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("adapter"); // "" for none
    const QStringList catalog{"consumerKey", "secretKey"};
    const QStringList oauth{"consumerKey", "consumerSecret", "tokenKey", "tokenSecret"};
    QTest::newRow("vexo") << 0 << catalog << "vexo";
    QTest::newRow("vexo without secret") << 0 << QStringList{"consumerKey"} << "";
    QTest::newRow("tarvo") << 1 << catalog << "tarvo";
    QTest::newRow("kyr") << 2 << oauth << "kyr";
    QTest::newRow("kyr missing token secret")
        << 2 << QStringList{"consumerKey", "consumerSecret", "tokenKey"} << "";
    QTest::newRow("dtv") << 3 << QStringList{"consumerKey"} << "dtv";
    QTest::newRow("dtv without key") << 3 << QStringList{} << "";
    QTest::newRow("liverail without info") << 4 << QStringList{} << "liverail";
    QTest::newRow("search ignores info") << 5 << QStringList{"consumerKey"} << "search";
    QTest::newRow("push") << 6 << QStringList{} << "push";
    QTest::newRow("seven") << 7 << catalog << "";
    QTest::newRow("negative") << -1 << catalog << "";
}

void TestServices::wrapperOfType()
{
    QFETCH(int, type);
    QFETCH(QStringList, keys);
    QFETCH(QString, adapter);
    ZRPSigningInfo info;
    for (const QString& k : keys)
        info.insert(k, QStringLiteral("v"));
    auto w = ZRPAPIWrapper::wrapperOfType(type, info);
    if (adapter.isEmpty()) {
        QVERIFY(!w);
        return;
    }
    QVERIFY(w);
    const std::map<QString, bool> is{
        {"vexo", dynamic_cast<ZRPVexoWrapper*>(w.get()) && !dynamic_cast<ZRPTarvoWrapper*>(w.get())},
        {"tarvo", dynamic_cast<ZRPTarvoWrapper*>(w.get()) != nullptr},
        {"kyr", dynamic_cast<ZRPKYRWrapper*>(w.get()) != nullptr},
        {"dtv", dynamic_cast<ZRPDTVWrapper*>(w.get()) != nullptr},
        {"liverail", dynamic_cast<ZRPLiveRailWrapper*>(w.get()) != nullptr},
        {"search", dynamic_cast<ZRPSearchWrapper*>(w.get()) != nullptr},
        {"push", dynamic_cast<ZRPPushNotificationsWrapper*>(w.get()) != nullptr},
    };
    QVERIFY(is.at(adapter));
    if (type >= 5)
        QVERIFY(w->signingInfo().isEmpty());
}

// ---- connections

void TestServices::statusBoundary_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("success");
    QTest::newRow("200") << 200 << QByteArray("hello") << true;
    QTest::newRow("200 empty") << 200 << QByteArray() << true;
    QTest::newRow("399") << 399 << QByteArray("three-nine-nine") << true;
    QTest::newRow("400") << 400 << QByteArray("{\"bad\":true}") << false;
    QTest::newRow("503") << 503 << QByteArray("down") << false;
}

void TestServices::statusBoundary()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, success);
    const QByteArray path = "/status/" + QByteArray::number(status) + "/" + QByteArray::number(body.size());
    m_server.on(path, LoopbackServer::Answer(status, body));
    auto delegate = std::make_shared<RecordingDelegate>();
    auto request = std::make_shared<ZRPURLRequest>(m_server.url(QString::fromLatin1(path)).toString());
    ZRPCommunication::sharedInstance().performRequest(request, delegate);
    QVERIFY(ZRPCommunication::sharedInstance().isRequestRegistered(request));
    QCOMPARE(delegate->out.count(), 0); // the transfer starts on a later turn of the main loop
    QTRY_COMPARE(delegate->out.count(), 1);
    std::lock_guard lock(delegate->out.mutex);
    QVERIFY(!delegate->out.onMainThread);
    QVERIFY(!ZRPCommunication::sharedInstance().isRequestRegistered(request));
    if (success) {
        QCOMPARE(delegate->out.finished, 1);
        QCOMPARE(delegate->out.body, body);
        QVERIFY(!delegate->out.body.isNull() || body.isEmpty());
    } else {
        QCOMPARE(delegate->out.failed, 1);
        QCOMPARE(delegate->out.error.domain, ZRPAPIWrapperErrorDomain);
        QCOMPARE(delegate->out.error.code, status);
        QCOMPARE(delegate->out.error.userInfo.value("message").toByteArray(), body);
    }
}

void TestServices::nullRequestFailsAtOnceWith1001()
{
    auto delegate = std::make_shared<RecordingDelegate>();
    ZRPCommunication::sharedInstance().performRequest(nullptr, delegate);
    // Synchronous, on the caller's thread.
    QCOMPARE(delegate->out.failed, 1);
    QVERIFY(delegate->out.onMainThread);
    QCOMPARE(delegate->out.error.domain, ZRPAPIWrapperErrorDomain);
    QCOMPARE(delegate->out.error.code, 1001);
    QCOMPARE(delegate->out.error.message(), QStringLiteral("Connection was not created"));
}

void TestServices::cancelIsSilentAndClearsTheRegistry()
{
    LoopbackServer::Answer held(200, "late");
    held.hold = true;
    m_server.on("/held", held);
    m_server.on("/after", LoopbackServer::Answer(200, "after"));
    auto& comm = ZRPCommunication::sharedInstance();

    // Cancelled before the transfer even opened, and cancelled while the server holds it.
    auto early = std::make_shared<RecordingDelegate>();
    auto earlyRequest = std::make_shared<ZRPURLRequest>(m_server.url("/held").toString());
    comm.performRequest(earlyRequest, early);
    comm.cancelRequest(earlyRequest);
    QVERIFY(!comm.isRequestRegistered(earlyRequest));

    auto late = std::make_shared<RecordingDelegate>();
    auto lateRequest = std::make_shared<ZRPURLRequest>(m_server.url("/held").toString());
    comm.performRequest(lateRequest, late);
    QTRY_COMPARE(m_server.requestCount("/held"), 1);
    comm.cancelRequest(lateRequest);
    QVERIFY(!comm.isRequestRegistered(lateRequest));
    m_server.releaseHeld();

    // A request sent afterwards finishes; by then the cancelled ones would have answered.
    auto after = std::make_shared<RecordingDelegate>();
    comm.performRequest(std::make_shared<ZRPURLRequest>(m_server.url("/after").toString()), after);
    QTRY_COMPARE(after->out.count(), 1);
    QTRY_COMPARE(m_server.activeCount(), 0);
    WorkQueue::waitForConcurrentIdle();
    QCoreApplication::processEvents();
    WorkQueue::waitForConcurrentIdle();
    QCOMPARE(early->out.count(), 0);
    QCOMPARE(late->out.count(), 0);
    QCOMPARE(m_server.requestCount("/held"), 1); // the early one never left
}

void TestServices::cancellingAnUnknownRequestDoesNothing()
{
    m_server.on("/done", LoopbackServer::Answer(200, "x"));
    auto d = std::make_shared<RecordingDelegate>();
    auto request = std::make_shared<ZRPURLRequest>(m_server.url("/done").toString());
    ZRPCommunication::sharedInstance().performRequest(request, d);
    QTRY_COMPARE(d->out.count(), 1);
    const int before = ZRPCommunication::sharedInstance().registeredCount();
    ZRPCommunication::sharedInstance().cancelRequest(request);                           // finished
    ZRPCommunication::sharedInstance().cancelRequest(std::make_shared<ZRPURLRequest>()); // never started
    QCOMPARE(ZRPCommunication::sharedInstance().registeredCount(), before);
    QCOMPARE(d->out.count(), 1);
}

void TestServices::redirectKeepsOnlyTheLastBody()
{
    LoopbackServer::Answer moved = LoopbackServer::Answer::redirect(302, m_server.url("/target").toEncoded());
    moved.body = "first body";
    m_server.on("/moved", moved);
    m_server.on("/target", LoopbackServer::Answer(200, "second body"));
    auto d = std::make_shared<RecordingDelegate>();
    ZRPCommunication::sharedInstance().performRequest(
        std::make_shared<ZRPURLRequest>(m_server.url("/moved").toString()), d);
    QTRY_COMPARE(d->out.count(), 1);
    QCOMPARE(d->out.body, QByteArray("second body"));
}

void TestServices::nothingIsCached()
{
    LoopbackServer::Answer a(200, "cacheable");
    a.header("Cache-Control", "max-age=3600");
    m_server.on("/cacheable", a);
    for (int i = 0; i < 2; ++i) {
        auto d = std::make_shared<RecordingDelegate>();
        ZRPCommunication::sharedInstance().performRequest(
            std::make_shared<ZRPURLRequest>(m_server.url("/cacheable").toString()), d);
        QTRY_COMPARE(d->out.count(), 1);
    }
    QCOMPARE(m_server.requestCount("/cacheable"), 2);
}

// ---- wrapper

void TestServices::wrapperSendsEscapedQueryAndSignature()
{
    m_server.on("/vexo/v1/videos/", LoopbackServer::Answer(200, R"({"results":[{"title":"A"}]})"));
    auto w = ZRPAPIWrapper::wrapperOfType(ZRPAPITypeVexo, catalogInfo());
    auto o = std::make_shared<Outcome>();
    const QString url = m_server.url("/vexo/v1/videos/").toString() + "?q=a b+c/d";
    w->getDataFromUrl(url, completionInto(o), errorInto(o), "r1");
    QTRY_COMPARE(o->count(), 1);
    QCOMPARE(o->finished, 1);
    QVERIFY(!o->onMainThread);
    QCOMPARE(o->results.toList().value(0).toMap().value("title").toString(), QStringLiteral("A"));
    const auto sent = m_server.lastRequest();
    QVERIFY2(
        sent.target.startsWith("/vexo/v1/videos/?q=a+b%2Bc%2Fd&timestamp=1700000000&nonce=N1&consumer_key=KEY"
                               "&signature="),
        sent.target.constData());
    // The signature the server would check: the same text recomputed from what arrived.
    const QString host = m_server.url("/").toString().chopped(1);
    const QString text = QStringLiteral("GET") + host +
                         "/vexo/v1/videos/?consumer_key=KEY&nonce=N1&q=a+b%2Bc%2Fd&timestamp=1700000000"
                         "1700000000KEYN1";
    QVERIFY(sent.target.endsWith(ZRPRequestSigner::signatureForText(text, "SECRET", false).toLatin1()));
    QCOMPARE(w->requestCount(), 0);
}

void TestServices::wrapperFormAndJSONBodies()
{
    m_server.on("/form", [](const LoopbackServer::Request& r) {
        return LoopbackServer::Answer(200, "{\"method\":\"" + r.method + "\"}");
    });
    auto w = ZRPAPIWrapper::wrapperOfType(ZRPAPITypeSearch, {});
    auto o = std::make_shared<Outcome>();
    w->postData("name=J Doe&city=a/b", m_server.url("/form").toString(), completionInto(o), errorInto(o),
                "p");
    QTRY_COMPARE(o->count(), 1);
    auto sent = m_server.lastRequest();
    QCOMPARE(sent.method, QByteArray("POST"));
    QCOMPARE(sent.body, QByteArray("name=J+Doe&city=a%2Fb"));
    QVERIFY(!sent.header("Content-Type").contains("json"));

    auto j = std::make_shared<Outcome>();
    w->putJSONData("{\"a\":1}", m_server.url("/form").toString(), completionInto(j), errorInto(j), "j");
    QTRY_COMPARE(j->count(), 1);
    sent = m_server.lastRequest();
    QCOMPARE(sent.method, QByteArray("PUT"));
    QCOMPARE(sent.body, QByteArray("{\"a\":1}"));
    QCOMPARE(sent.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(j->results.toList().value(0).toMap().value("method").toString(), QStringLiteral("PUT"));
}

void TestServices::sameIdKeepsOnlyTheSecondRequest()
{
    LoopbackServer::Answer held(200, R"({"results":"first"})");
    held.hold = true;
    m_server.on("/vexo/first", held);
    m_server.on("/vexo/second", LoopbackServer::Answer(200, R"({"results":"second"})"));
    auto w = ZRPAPIWrapper::wrapperOfType(ZRPAPITypeVexo, catalogInfo());
    auto first = std::make_shared<Outcome>();
    auto second = std::make_shared<Outcome>();
    w->getDataFromUrl(m_server.url("/vexo/first").toString(), completionInto(first), errorInto(first),
                      "same");
    QTRY_COMPARE(m_server.requestCount("/vexo/first"), 1);
    w->getDataFromUrl(m_server.url("/vexo/second").toString(), completionInto(second), errorInto(second),
                      "same");
    QTRY_COMPARE(second->count(), 1);
    QCOMPARE(second->results.toString(), QStringLiteral("second"));
    m_server.releaseHeld();
    QTRY_COMPARE(m_server.activeCount(), 0);
    // The first's outcome finds no entry of its own and is dropped.
    auto probe = std::make_shared<Outcome>();
    w->getDataFromUrl(m_server.url("/vexo/second").toString(), completionInto(probe), errorInto(probe),
                      "probe");
    QTRY_COMPARE(probe->count(), 1);
    WorkQueue::waitForConcurrentIdle();
    QCoreApplication::processEvents();
    WorkQueue::waitForConcurrentIdle();
    QCOMPARE(first->count(), 0);
}

void TestServices::rebuiltErrors_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("vexo described")
        << 0 << 401 << QByteArray(R"({"description":"Unauthorized","detailed_description":"Bad signature"})")
        << ZRPVexoErrorDomain << 401 << "Unauthorized Bad signature";
    QTest::newRow("vexo missing parts") << 0 << 403 << QByteArray(R"({"description":"Forbidden"})")
                                        << ZRPVexoErrorDomain << 403 << "Forbidden ";
    QTest::newRow("vexo not JSON") << 0 << 500 << QByteArray("<h1>oops</h1>") << ZRPJSONErrorDomain << 1
                                   << "";
    QTest::newRow("tarvo unchanged") << 1 << 404 << QByteArray("nope") << ZRPAPIWrapperErrorDomain << 404
                                     << "nope";
    QTest::newRow("dtv unchanged") << 3 << 500 << QByteArray("x") << ZRPAPIWrapperErrorDomain << 500 << "x";
    QTest::newRow("push body text") << 6 << 410 << QByteArray("gone") << ZRPPushErrorDomain << 410 << "gone";
}

void TestServices::rebuiltErrors()
{
    QFETCH(int, type);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, domain);
    QFETCH(int, code);
    QFETCH(QString, message);
    const QByteArray path = "/err/" + QByteArray(QTest::currentDataTag()).replace(' ', '-');
    m_server.on(path, LoopbackServer::Answer(status, body));
    auto w = ZRPAPIWrapper::wrapperOfType(type, catalogInfo());
    QVERIFY(w);
    auto o = std::make_shared<Outcome>();
    w->getDataFromUrl(m_server.url(QString::fromLatin1(path)).toString(), completionInto(o), errorInto(o),
                      "e");
    QTRY_COMPARE(o->count(), 1);
    QCOMPARE(o->failed, 1);
    QCOMPARE(o->error.domain, domain);
    QCOMPARE(o->error.code, code);
    if (!message.isEmpty())
        QCOMPARE(o->error.message(), message);
}

void TestServices::cancelRequestWithIdIsSilent()
{
    LoopbackServer::Answer held(200, "[]");
    held.hold = true;
    m_server.on("/search/held", held);
    auto w = ZRPAPIWrapper::wrapperOfType(ZRPAPITypeSearch, {});
    auto o = std::make_shared<Outcome>();
    w->getDataFromUrl(m_server.url("/search/held").toString(), completionInto(o), errorInto(o), "c");
    QTRY_COMPARE(m_server.requestCount("/search/held"), 1);
    w->cancelRequestWithId("c");
    w->cancelRequestWithId("never");
    QCOMPARE(w->requestCount(), 0);
    m_server.releaseHeld();
    QTRY_COMPARE(m_server.activeCount(), 0);
    auto probe = std::make_shared<Outcome>();
    m_server.on("/search/ok", LoopbackServer::Answer(200, "[]"));
    w->getDataFromUrl(m_server.url("/search/ok").toString(), completionInto(probe), errorInto(probe), "p");
    QTRY_COMPARE(probe->count(), 1);
    WorkQueue::waitForConcurrentIdle();
    QCOMPARE(o->count(), 0);
}

QTEST_GUILESS_MAIN(TestServices)
#include "test_services.moc"
