// The embedded network over real loopback HTTP: signatures, faults, request log, bad input, load,
// and the services of the browsing screens.

#include "SampleCatalog.h"
#include "SandboxServer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <algorithm>
#include <memory>

using namespace zrp;
using sandbox::SampleCatalog;

namespace {

const QByteArray kTabletKey = "ZRPIPAD-6B1F0C52-3E4A-4D8B-9F27-1C5E8A0D7B34";
const QByteArray kTabletSecret = "A9C3E1F7-52B8-4D06-8E4F-3B7D2A6C9E10";
const QByteArray kPhoneKey = "ZRPIPHONE-0E8D4C2A-7B61-4F95-A3D0-5C9E1B7F2A48";
const QByteArray kPhoneSecret = "4F2A8C6E-1D3B-4A97-B5E0-9C7F3D1A8B62";
const QByteArray kPlayerKey = "ZRPVPAD-4348D2E8-CC98-4569-90F5-EEC5ACC6279C";
const QByteArray kPlayerSecret = "9d915b99-a5a6-446d-818d-4bed536e4e17";

// A signer written from the protocol text, independent of the server's verifier.
namespace Signer {

QByteArray hmacHex(const QByteArray& secret, const QByteArray& text)
{
    return QMessageAuthenticationCode::hash(text, secret, QCryptographicHash::Sha1).toHex();
}

QByteArray escape(const QByteArray& utf8, const QByteArray& keep)
{
    QByteArray out;
    for (char c : utf8) {
        const bool plain =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || keep.contains(c);
        out += plain ? QByteArray(1, c) : "%" + QByteArray(1, c).toHex().toUpper();
    }
    return out;
}

// The catalog client's query: "%20" becomes "+", everything but letters, digits and "-_.~&=+"
// is escaped, then the pieces are sorted.
QByteArray clientQuery(QByteArray query)
{
    query.replace("%20", "+");
    QList<QByteArray> pieces = escape(query, "-_.~&=+").split('&');
    std::sort(pieces.begin(), pieces.end());
    return pieces.join('&');
}

struct Headers
{
    QByteArray url, timestamp, nonce, key, signature;
};

Headers sign(const QByteArray& base, const QByteArray& path, const QByteArray& rawQuery,
             const QByteArray& key, const QByteArray& secret, qint64 timestamp)
{
    Headers h;
    h.url = base + path + (rawQuery.isEmpty() ? QByteArray() : "?" + clientQuery(rawQuery));
    h.timestamp = QByteArray::number(timestamp);
    h.nonce = QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
    h.key = key;
    h.signature = hmacHex(secret, "GET" + h.url + h.timestamp + h.key + h.nonce);
    return h;
}

// The player library's query signature: names and values escaped, own parameters appended,
// the sorted parameters signed, the signature last.
QByteArray signQuery(const QByteArray& base, const QByteArray& path, const QByteArray& rawQuery,
                     const QByteArray& key, const QByteArray& secret, qint64 timestamp)
{
    auto params = [](const QByteArray& text) {
        QList<QByteArray> out;
        for (const QByteArray& piece : text.split('&')) {
            const qsizetype eq = piece.indexOf('=');
            out << escape(piece.left(eq), "-._~") + "=" + escape(piece.mid(eq + 1), "-._~");
        }
        return out.join('&').replace("%20", "+");
    };
    const QByteArray ts = QByteArray::number(timestamp);
    const QByteArray nonce = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    const QByteArray own = params("timestamp=" + ts + "&nonce=" + nonce + "&consumer_key=" + key);
    const QByteArray urlParams = rawQuery.isEmpty() ? own : params(rawQuery) + "&" + own;
    QList<QByteArray> sorted = urlParams.split('&');
    std::sort(sorted.begin(), sorted.end());
    const QByteArray signature =
        hmacHex(secret, "GET" + base + path + "?" + sorted.join('&') + ts + key + nonce);
    return base + path + "?" + urlParams + "&signature=" + signature;
}

} // namespace Signer

struct Answer
{
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;

    QByteArray header(const QByteArray& name) const
    {
        for (const auto& [k, v] : headers) {
            if (k.compare(name, Qt::CaseInsensitive) == 0)
                return v;
        }
        return QByteArray();
    }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QJsonArray results() const { return json().value(QStringLiteral("results")).toArray(); }
};

bool isValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    Q_UNUSED(text);
    return !decoder.hasError();
}

} // namespace

class TestSandbox : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SandboxServer> m_server;
    QNetworkAccessManager m_nam;
    QByteArray m_base;

    Answer exchange(QNetworkRequest request, const QByteArray& verb = "GET", const QByteArray& body = {})
    {
        QNetworkReply* reply = m_nam.sendCustomRequest(request, verb, body);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!reply->isFinished())
            finished.wait(20000);
        Answer a;
        a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        a.error = reply->error();
        a.body = reply->readAll();
        a.headers = reply->rawHeaderPairs();
        reply->deleteLater();
        return a;
    }

    Answer get(const QByteArray& pathAndQuery)
    {
        return exchange(QNetworkRequest(QUrl(m_base + pathAndQuery)));
    }

    Answer post(const QByteArray& path, const QByteArray& body,
                const QByteArray& contentType = "application/json")
    {
        QNetworkRequest request(QUrl(m_base + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        return exchange(request, "POST", body);
    }

    QNetworkRequest headerSigned(const Signer::Headers& h)
    {
        QNetworkRequest request{QUrl(QString::fromLatin1(h.url))};
        request.setRawHeader("X-ZRPAuth-Timestamp", h.timestamp);
        request.setRawHeader("X-ZRPAuth-Nonce", h.nonce);
        request.setRawHeader("X-ZRPAuth-Consumer-Key", h.key);
        request.setRawHeader("X-ZRPAuth-Signature", h.signature);
        return request;
    }

    // A catalog request signed as the tablet client signs it, now.
    Answer catalog(const QByteArray& path, const QByteArray& rawQuery)
    {
        return exchange(headerSigned(Signer::sign(m_base, path, rawQuery, kTabletKey, kTabletSecret,
                                                  QDateTime::currentSecsSinceEpoch())));
    }

    // Writes bytes on a fresh connection and returns everything read until the server closes it
    // (or, with untilHeaders, until the answer's header block is complete).
    QByteArray rawExchange(const QByteArray& request, bool untilHeaders = false)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_server->port());
        if (!socket.waitForConnected(10000))
            return QByteArray("not connected");
        socket.write(request);
        QByteArray received;
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(15000)) {
            received += socket.readAll();
            if (untilHeaders && received.contains("\r\n\r\n"))
                return received;
        }
        received += socket.readAll();
        return received;
    }

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<SandboxServer>(SandboxOptions{42, QString(), 0});
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_base = m_server->baseUrl().toString().toLatin1();
        QVERIFY(m_base.startsWith("http://127.0.0.1:"));
    }

    void init() { QCOMPARE(post("/_sandbox/reset", QByteArray()).status, 200); }

    void cleanupTestCase() { m_server->stop(); }

    // ---- signatures ----

    void signedRequestAnswered_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("secret");
        QTest::addColumn<bool>("querySigned");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("results");

        const QByteArray programs = "fields=associated_images,producer&filter_producer__name=ZRP";
        QTest::newRow("headers, tablet key")
            << kTabletKey << kTabletSecret << false << QByteArray("/vexo/v1/programs/") << programs << 30;
        QTest::newRow("headers, phone key")
            << kPhoneKey << kPhoneSecret << false << QByteArray("/vexo/v1/programs/") << programs << 30;
        QTest::newRow("headers, blank in a value")
            << kTabletKey << kTabletSecret << false << QByteArray("/vexo/v1/groups/")
            << QByteArray("fields=videos__associated_images&filter_name=ipad_spotlight&"
                          "filter_videos__gated_content__in=Not%20Gated,Registration%20Required")
            << 1;
        QTest::newRow("query signature, no query")
            << kPlayerKey << kPlayerSecret << true << QByteArray("/vexo/v1/groups/") << QByteArray() << 3;
        QTest::newRow("query signature, player video query")
            << kPlayerKey << kPlayerSecret << true << QByteArray("/vexo/v1/videos/")
            << QByteArray(
                   "fields=mediafiles,associated_images,producer,program__associated_images&"
                   "filter_tp_media_object_id=1100260104&filter_availability_status=Available&"
                   "order_by=-airdate&filter_mediafile_set__video_encoding__mime_type=application/x-mpegURL")
            << -1;
    }

    void signedRequestAnswered()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, secret);
        QFETCH(bool, querySigned);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, query);
        QFETCH(int, results);

        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const Answer a =
            querySigned ? exchange(QNetworkRequest(QUrl(
                              QString::fromLatin1(Signer::signQuery(m_base, path, query, key, secret, now)))))
                        : exchange(headerSigned(Signer::sign(m_base, path, query, key, secret, now)));
        QVERIFY2(a.status == 200, a.body.constData());
        QVERIFY(a.header("Content-Type").startsWith("application/json"));
        if (results >= 0)
            QCOMPARE(a.results().size(), results);
        else
            QVERIFY(a.json().contains(QStringLiteral("results")));
    }

    void badSignatureRefused_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("description");

        QTest::newRow("missing header") << "missing"
                                        << "Authentication credentials were not provided.";
        QTest::newRow("no signing at all") << "none"
                                           << "Authentication credentials were not provided.";
        QTest::newRow("wrong signature") << "wrong"
                                         << "Invalid signature.";
        QTest::newRow("upper-case hex signature") << "uppercase"
                                                  << "Invalid signature.";
        QTest::newRow("signed for another URL") << "otherUrl"
                                                << "Invalid signature.";
        QTest::newRow("unknown key") << "unknownKey"
                                     << "Invalid consumer key.";
        QTest::newRow("player key in headers") << "playerKey"
                                               << "Invalid consumer key.";
        QTest::newRow("16 minutes late") << "late"
                                         << "Request expired.";
        QTest::newRow("16 minutes early") << "early"
                                          << "Request expired.";
        QTest::newRow("timestamp with a fraction") << "fraction"
                                                   << "Invalid timestamp.";
        QTest::newRow("query: wrong signature") << "queryWrong"
                                                << "Invalid signature.";
        QTest::newRow("query: no signature") << "queryMissing"
                                             << "Authentication credentials were not provided.";
        QTest::newRow("query: tablet catalog key") << "queryCatalogKey"
                                                   << "Invalid consumer key.";
        QTest::newRow("query: 16 minutes late") << "queryLate"
                                                << "Request expired.";
    }

    void badSignatureRefused()
    {
        QFETCH(QString, fault);
        QFETCH(QString, description);

        const QByteArray path = "/vexo/v1/programs/";
        const QByteArray query = "fields=producer&filter_slug=anything";
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QNetworkRequest request;
        if (fault.startsWith(QLatin1String("query"))) {
            QByteArray url = Signer::signQuery(m_base, path, query, kPlayerKey, kPlayerSecret,
                                               fault == QLatin1String("queryLate") ? now - 16 * 60 : now);
            if (fault == QLatin1String("queryWrong"))
                url.replace("filter_slug=anything", "filter_slug=anythinG");
            if (fault == QLatin1String("queryMissing"))
                url.truncate(url.indexOf("&signature="));
            if (fault == QLatin1String("queryCatalogKey")) {
                url = Signer::signQuery(m_base, path, query, kTabletKey, kTabletSecret, now);
            }
            request.setUrl(QUrl(QString::fromLatin1(url)));
        } else {
            const qint64 t = fault == QLatin1String("late")    ? now - 16 * 60
                             : fault == QLatin1String("early") ? now + 16 * 60
                                                               : now;
            QByteArray key = kTabletKey, secret = kTabletSecret;
            if (fault == QLatin1String("unknownKey"))
                key = "ZRPIPAD-00000000-0000-0000-0000-000000000000";
            if (fault == QLatin1String("playerKey")) {
                key = kPlayerKey;
                secret = kPlayerSecret;
            }
            Signer::Headers h = Signer::sign(m_base, path, query, key, secret, t);
            if (fault == QLatin1String("wrong"))
                h.signature[0] = h.signature[0] == 'a' ? 'b' : 'a';
            if (fault == QLatin1String("uppercase"))
                h.signature = h.signature.toUpper();
            if (fault == QLatin1String("otherUrl"))
                h.url.replace("anything", "something");
            if (fault == QLatin1String("fraction")) {
                h.timestamp += ".5";
                h.signature = Signer::hmacHex(secret, "GET" + h.url + h.timestamp + h.key + h.nonce);
            }
            request = headerSigned(h);
            if (fault == QLatin1String("missing"))
                request.setRawHeader("X-ZRPAuth-Nonce", QByteArray());
            if (fault == QLatin1String("none"))
                request = QNetworkRequest(QUrl(QString::fromLatin1(h.url)));
        }
        const Answer a = exchange(request);
        QCOMPARE(a.status, 401);
        QVERIFY(a.header("Content-Type").startsWith("application/json"));
        const QJsonObject o = a.json();
        QCOMPARE(o.value(QStringLiteral("description")).toString(), description);
        QVERIFY(!o.value(QStringLiteral("detailed_description")).toString().isEmpty());
    }

    // A retry re-sends the first attempt's headers unchanged: same timestamp, nonce, signature.
    void retryReusingNonceAccepted()
    {
        QCOMPARE(post("/_sandbox/faults", R"({"prefix": "/vexo/v1/programs/", "status": 503})").status, 200);
        const QNetworkRequest request =
            headerSigned(Signer::sign(m_base, "/vexo/v1/programs/", "filter_slug=x", kTabletKey,
                                      kTabletSecret, QDateTime::currentSecsSinceEpoch()));
        QCOMPARE(exchange(request).status, 503);
        QCOMPARE(exchange(request).status, 200);
        QCOMPARE(exchange(request).status, 200);
    }

    // ---- fault injection ----

    void statusFaultSpentAfterCount()
    {
        const Answer order =
            post("/_sandbox/faults", R"({"prefix": "/vexo/v1/groups/", "count": 2, "status": 503})");
        QCOMPARE(order.status, 200);
        QCOMPARE(order.json().value(QStringLiteral("faults")).toArray().size(), 1);

        QCOMPARE(catalog("/vexo/v1/programs/", "filter_slug=x").status, 200); // another prefix
        const Answer first = catalog("/vexo/v1/groups/", "filter_name=ipad_previews");
        QCOMPARE(first.status, 503);
        QVERIFY(first.json().contains(QStringLiteral("detailed_description")));
        QCOMPARE(catalog("/vexo/v1/groups/", "filter_name=ipad_previews").status, 503);
        QCOMPARE(catalog("/vexo/v1/groups/", "filter_name=ipad_previews").status, 200);
        QCOMPARE(get("/_sandbox/faults").json().value(QStringLiteral("faults")).toArray().size(), 0);

        // The log says which requests got the fault.
        const QJsonArray log = get("/_sandbox/requests?prefix=/vexo/v1/groups/")
                                   .json()
                                   .value(QStringLiteral("requests"))
                                   .toArray();
        QCOMPARE(log.size(), 3);
        QCOMPARE(log.at(0)
                     .toObject()
                     .value(QStringLiteral("fault"))
                     .toObject()
                     .value(QStringLiteral("status"))
                     .toInt(),
                 503);
        QCOMPARE(log.at(1).toObject().value(QStringLiteral("status")).toInt(), 503);
        QVERIFY(!log.at(2).toObject().contains(QStringLiteral("fault")));
        QCOMPARE(log.at(2).toObject().value(QStringLiteral("status")).toInt(), 200);
    }

    void corruptFault()
    {
        QCOMPARE(post("/_sandbox/faults", R"({"prefix": "/vexo/v1/", "corrupt": true})").status, 200);
        const Answer bad = catalog("/vexo/v1/programs/", "filter_producer__name=ZRP");
        QCOMPARE(bad.status, 200);
        QVERIFY(!bad.body.isEmpty());
        QVERIFY(!isValidUtf8(bad.body));
        QJsonParseError pe;
        QVERIFY(QJsonDocument::fromJson(bad.body, &pe).isNull());
        QCOMPARE(catalog("/vexo/v1/programs/", "filter_producer__name=ZRP").results().size(), 30);
    }

    // Raw sockets, because an HTTP client hides exactly what these faults do to the wire.
    void dropAndTruncateFaults_data()
    {
        QTest::addColumn<QByteArray>("order");
        QTest::addColumn<int>("bodyBytes"); // -1: nothing at all was sent

        QTest::newRow("drop") << QByteArray(R"({"prefix": "/config/", "drop": true})") << -1;
        QTest::newRow("truncate to 10") << QByteArray(R"({"prefix": "/config/", "truncate": 10})") << 10;
        QTest::newRow("truncate to 0") << QByteArray(R"({"prefix": "/config/", "truncate": 0})") << 0;
    }

    void dropAndTruncateFaults()
    {
        QFETCH(QByteArray, order);
        QFETCH(int, bodyBytes);

        const QByteArray request = "GET /config/ipad-conf.plist HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        const QByteArray fullBody = get("/config/ipad-conf.plist").body;
        QVERIFY(fullBody.size() > 20);

        QCOMPARE(post("/_sandbox/faults", order).status, 200);
        const QByteArray received = rawExchange(request);
        if (bodyBytes < 0) {
            QCOMPARE(received, QByteArray());
        } else {
            QVERIFY(received.startsWith("HTTP/1.1 200"));
            const qsizetype split = received.indexOf("\r\n\r\n");
            QVERIFY(split > 0);
            // The whole length is promised, then the connection ends early.
            QVERIFY(received.left(split).toLower().contains("content-length: " +
                                                            QByteArray::number(fullBody.size())));
            QCOMPARE(received.mid(split + 4), fullBody.left(bodyBytes));
        }
        // Spent: the next request gets the whole answer.
        QVERIFY(rawExchange("GET /config/ipad-conf.plist HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
                    .endsWith("minimum_version=1.0\r\n"));
    }

    // The delayed answer is still pending when a later request has been answered; clearing the
    // faults releases it. (Ordering only, no timing.)
    void delayFaultHoldsAnswerUntilCleared()
    {
        QCOMPARE(post("/_sandbox/faults", R"({"prefix": "/config/", "delay_ms": 120000})").status, 200);
        QNetworkReply* delayed = m_nam.get(QNetworkRequest(QUrl(m_base + "/config/ipad-conf.plist")));
        QTRY_COMPARE(get("/_sandbox/requests?prefix=/config/")
                         .json()
                         .value(QStringLiteral("requests"))
                         .toArray()
                         .size(),
                     1);
        QCOMPARE(get("/_sandbox/ping").status, 204);
        QVERIFY(!delayed->isFinished());

        QNetworkRequest clear(QUrl(m_base + "/_sandbox/faults"));
        QCOMPARE(exchange(clear, "DELETE").status, 200);
        QTRY_VERIFY_WITH_TIMEOUT(delayed->isFinished(), 20000);
        QCOMPARE(delayed->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QVERIFY(delayed->readAll().contains("minimum_version="));
        delete delayed;
    }

    void faultOrderRefused_data()
    {
        QTest::addColumn<QByteArray>("order");
        QTest::newRow("not JSON") << QByteArray("prefix=/vexo/");
        QTest::newRow("no prefix") << QByteArray(R"({"status": 500})");
        QTest::newRow("no effect") << QByteArray(R"({"prefix": "/vexo/"})");
        QTest::newRow("count 0") << QByteArray(R"({"prefix": "/vexo/", "count": 0, "status": 500})");
        QTest::newRow("unknown member") << QByteArray(R"({"prefix": "/vexo/", "stauts": 500})");
        QTest::newRow("one bad order in a list")
            << QByteArray(R"([{"prefix": "/a", "drop": true}, {"prefix": "/b"}])");
    }

    void faultOrderRefused()
    {
        QFETCH(QByteArray, order);
        const Answer a = post("/_sandbox/faults", order);
        QCOMPARE(a.status, 400);
        QVERIFY(!a.json().value(QStringLiteral("detailed_description")).toString().isEmpty());
        QCOMPARE(get("/_sandbox/faults").json().value(QStringLiteral("faults")).toArray().size(), 0);
    }

    // ---- request log ----

    void requestLogReadableAndReset()
    {
        const qint64 before = get("/_sandbox/requests").json().value(QStringLiteral("last_seq")).toInteger();
        const Answer signedAnswer =
            catalog("/vexo/v1/programs/", "fields=associated_images,producer&filter_slug=x");
        QCOMPARE(signedAnswer.status, 200);
        QCOMPARE(post("/collect", "not json").status, 400);

        const QJsonObject read = get("/_sandbox/requests?since=" + QByteArray::number(before)).json();
        const QJsonArray requests = read.value(QStringLiteral("requests")).toArray();
        QCOMPARE(requests.size(), 2); // control requests are not logged
        const QJsonObject first = requests.at(0).toObject();
        QCOMPARE(first.value(QStringLiteral("seq")).toInteger(), before + 1);
        QCOMPARE(signedAnswer.header("X-Sandbox-Seq").toLongLong(), before + 1);
        QCOMPARE(first.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
        QCOMPARE(first.value(QStringLiteral("path")).toString(), QStringLiteral("/vexo/v1/programs/"));
        // The raw query, as the client escaped and sorted it.
        QCOMPARE(first.value(QStringLiteral("query")).toString(),
                 QStringLiteral("fields=associated_images%2Cproducer&filter_slug=x"));
        const QJsonObject headers = first.value(QStringLiteral("headers")).toObject();
        QCOMPARE(headers.value(QStringLiteral("X-ZRPAuth-Consumer-Key")).toString(),
                 QString::fromLatin1(kTabletKey));
        QCOMPARE(headers.value(QStringLiteral("X-ZRPAuth-Signature")).toString().size(), 40);
        QCOMPARE(first.value(QStringLiteral("status")).toInt(), 200);
        QVERIFY(QDateTime::fromString(first.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs)
                    .isValid());
        const QJsonObject second = requests.at(1).toObject();
        QCOMPARE(second.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
        QCOMPARE(second.value(QStringLiteral("body")).toString(), QStringLiteral("not json"));
        QCOMPARE(second.value(QStringLiteral("status")).toInt(), 400);

        // A body that is not UTF-8 comes back in Base64.
        QCOMPARE(post("/collect", QByteArray("\xff\x00\xfe", 3)).status, 400);
        const QJsonArray binary = get("/_sandbox/requests?since=" + QByteArray::number(before + 2))
                                      .json()
                                      .value(QStringLiteral("requests"))
                                      .toArray();
        QCOMPARE(binary.size(), 1);
        QCOMPARE(QByteArray::fromBase64(
                     binary.at(0).toObject().value(QStringLiteral("body_base64")).toString().toLatin1()),
                 QByteArray("\xff\x00\xfe", 3));

        QCOMPARE(post("/_sandbox/reset", QByteArray()).status, 200);
        const QJsonObject after = get("/_sandbox/requests").json();
        QCOMPARE(after.value(QStringLiteral("requests")).toArray().size(), 0);
        QCOMPARE(after.value(QStringLiteral("last_seq")).toInteger(), before + 3); // numbering goes on
        QCOMPARE(get("/_sandbox/ping").header("X-Sandbox-Seq").toLongLong(), before + 4);
    }

    // ---- bad input ----

    void unknownPathIs404Json_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("signedRequest");
        QTest::newRow("unknown service") << QByteArray("/nothing/here") << false;
        QTest::newRow("unknown catalog resource") << QByteArray("/vexo/v1/stations/") << true;
        QTest::newRow("unknown program id") << QByteArray("/vexo/v1/programs/999999/") << true;
        QTest::newRow("image of an unknown video")
            << QByteArray("/images/videos/999999/iPad-Large.png") << false;
        QTest::newRow("image with a stray semicolon")
            << QByteArray("/images/programs/1001/iPad-Large.png;") << false;
        QTest::newRow("unknown usage type") << QByteArray("/images/programs/1001/Poster.png") << false;
        QTest::newRow("unknown station logo") << QByteArray("/station-images/ipad/KXXX.png") << false;
        QTest::newRow("unknown control path") << QByteArray("/_sandbox/nothing") << false;
    }

    void unknownPathIs404Json()
    {
        QFETCH(QByteArray, path);
        QFETCH(bool, signedRequest);
        const Answer a = signedRequest ? catalog(path, QByteArray()) : get(path);
        QCOMPARE(a.status, 404);
        QVERIFY(a.header("Content-Type").startsWith("application/json"));
        QVERIFY(a.json().contains(QStringLiteral("description")));
        QVERIFY(a.json().contains(QStringLiteral("detailed_description")));
    }

    void oversizedBodyRefused()
    {
        const Answer a = post("/collect", QByteArray(2 * 1024 * 1024, 'x'));
        QCOMPARE(a.status, 413);
        QVERIFY(a.json().contains(QStringLiteral("description")));
        const QJsonArray log =
            get("/_sandbox/requests?prefix=/collect").json().value(QStringLiteral("requests")).toArray();
        QCOMPARE(log.size(), 1);
        QCOMPARE(log.at(0).toObject().value(QStringLiteral("status")).toInt(), 413);
        QCOMPARE(get("/_sandbox/ping").status, 204);
    }

    void malformedInputSurvives_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::newRow("broken escapes")
            << QByteArray("GET /vexo/v1/programs/?%zz=%&&=&fields=%%%2&filter_slug=%E2%82 HTTP/1.1\r\n")
            << QByteArray("HTTP/1.1 401");
        QTest::newRow("query of separators")
            << QByteArray("GET /_sandbox/requests?&&&=&=since=&since HTTP/1.1\r\n")
            << QByteArray("HTTP/1.1 200");
        QTest::newRow("since that is not a number")
            << QByteArray("GET /_sandbox/requests?since=%FF%FE HTTP/1.1\r\n") << QByteArray("HTTP/1.1 400");
        QTest::newRow("bytes that are not UTF-8")
            << QByteArray("GET /images/\xff\xfe/\xc3\x28.png?\xff=\xfe HTTP/1.1\r\n")
            << QByteArray("HTTP/1.1 404");
        QTest::newRow("encoded newline in the path")
            << QByteArray("GET /a%0Ab HTTP/1.1\r\n") << QByteArray("HTTP/1.1 404");
        QTest::newRow("not HTTP") << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n")
                                  << QByteArray("HTTP/1.1 400");
        // A length nobody could hold: no allocation of it, and the client may just go away.
        QTest::newRow("huge Content-Length, client leaves")
            << QByteArray("POST /collect HTTP/1.1\r\nContent-Length: 99999999999999\r\n") << QByteArray();
    }

    void malformedInputSurvives()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, statusLine);
        const QByteArray whole = request + "Host: 127.0.0.1\r\nConnection: close\r\n\r\n";
        if (statusLine.isEmpty()) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_server->port());
            QVERIFY(socket.waitForConnected(10000));
            socket.write(whole);
            QVERIFY(socket.waitForBytesWritten(10000));
            socket.abort();
        } else {
            const QByteArray received = rawExchange(whole, true);
            QVERIFY2(received.startsWith(statusLine), received.left(200).constData());
        }
        QCOMPARE(get("/_sandbox/ping").status, 204);
    }

    // Signed queries the client may build wrongly: refused with 400 and a reason, never a crash.
    void invalidCatalogQuery_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::newRow("unknown filter field") << QByteArray("filter_colour=red");
        QTest::newRow("empty filter name") << QByteArray("filter_=1");
        QTest::newRow("unknown order field") << QByteArray("order_by=-popularity");
        QTest::newRow("negative limit") << QByteArray("limit=-1");
    }

    void invalidCatalogQuery()
    {
        QFETCH(QByteArray, query);
        const Answer a = catalog("/vexo/v1/videos/", query);
        QCOMPARE(a.status, 400);
        QCOMPARE(a.json().value(QStringLiteral("description")).toString(), QStringLiteral("Invalid query."));
    }

    // 100 connections open at once, each kept alive after its answer: all are served.
    void hundredConcurrentConnections()
    {
        constexpr int kConnections = 100;
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        QList<QByteArray> received(kConnections);
        for (int i = 0; i < kConnections; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            QTcpSocket* s = socket.get();
            connect(s, &QTcpSocket::connected, s, [s, i, this] {
                const QByteArray target =
                    i % 4 == 0 ? "/images/programs/1001/iPad-Small.png" : "/_sandbox/ping";
                s->write("GET " + target + " HTTP/1.1\r\nHost: " + m_base.mid(7) + "\r\n\r\n");
            });
            connect(s, &QTcpSocket::readyRead, s, [s, i, &received] { received[i] += s->readAll(); });
            s->connectToHost(QHostAddress::LocalHost, m_server->port());
            sockets.push_back(std::move(socket));
        }
        auto answered = [&] {
            return std::count_if(received.begin(), received.end(), [](const QByteArray& r) {
                return r.startsWith("HTTP/1.1 204") ||
                       (r.startsWith("HTTP/1.1 200") && r.contains("image/png"));
            });
        };
        QTRY_COMPARE_WITH_TIMEOUT(answered(), kConnections, 30000);
        for (const auto& s : sockets)
            QCOMPARE(s->state(), QAbstractSocket::ConnectedState); // still open, kept alive
    }

    // ---- catalog ----

    void programQueries_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("producer"); // every result's producer, or "!NAME" for none of them
        const QByteArray f = "fields=associated_images,producer&";
        QTest::newRow("network's own") << f + "filter_producer__name=ZRP" << 30 << "ZRP";
        QTest::newRow("one station") << f + "filter_producer__name=KZRA" << 4 << "KZRA";
        QTest::newRow("in list") << f + "filter_producer__name__in=KZRA,WZRB" << 8 << "";
        QTest::newRow("without network") << f + "exclude_producer__name=ZRP" << 50 << "!ZRP";
        QTest::newRow("without network and a station")
            << f + "exclude_producer__name__in=ZRP,KZRA" << 46 << "!KZRA";
        QTest::newRow("id list") << f + "filter_id__in=1001,1005,1080,5" << 3 << "";
        QTest::newRow("unknown slug") << f + "filter_slug=no-such-program" << 0 << "";
    }

    void programQueries()
    {
        QFETCH(QByteArray, query);
        QFETCH(int, count);
        QFETCH(QString, producer);
        const Answer a = catalog("/vexo/v1/programs/", query);
        QCOMPARE(a.status, 200);
        const QJsonArray results = a.results();
        QCOMPARE(results.size(), count);
        for (const QJsonValue& v : results) {
            const QJsonObject p = v.toObject();
            const QString name =
                p.value(QStringLiteral("producer")).toObject().value(QStringLiteral("name")).toString();
            if (producer.startsWith(QLatin1Char('!')))
                QVERIFY(name != producer.mid(1) && name != QLatin1String("ZRP"));
            else if (!producer.isEmpty())
                QCOMPARE(name, producer);
            QVERIFY(p.value(QStringLiteral("resource_uri"))
                        .toString()
                        .contains(QRegularExpression("^/vexo/v1/programs/\\d+/$")));
            QVERIFY(p.value(QStringLiteral("associated_images")).isArray());
            for (const char* key : {"slug", "nola_root", "title", "short_description", "long_description"})
                QVERIFY2(!p.value(QLatin1String(key)).toString().isEmpty(), key);
        }
    }

    void programBySlugAndFields()
    {
        const QJsonArray all = catalog("/vexo/v1/programs/", "fields=producer").results();
        QCOMPARE(all.size(), 80);
        QVERIFY(!all.at(0).toObject().contains(QStringLiteral("associated_images"))); // not asked for
        const QString slug = all.at(17).toObject().value(QStringLiteral("slug")).toString();
        const QJsonArray one =
            catalog("/vexo/v1/programs/", "fields=associated_images,producer&filter_slug=" + slug.toLatin1())
                .results();
        QCOMPARE(one.size(), 1);
        QCOMPARE(one.at(0).toObject().value(QStringLiteral("title")),
                 all.at(17).toObject().value(QStringLiteral("title")));
        for (const QJsonValue& img :
             one.at(0).toObject().value(QStringLiteral("associated_images")).toArray())
            QVERIFY(img.toObject()
                        .value(QStringLiteral("url"))
                        .toString()
                        .startsWith(QString::fromLatin1(m_base) + "/images/"));
    }

    void episodesOfProgram()
    {
        const QByteArray query =
            "fields=mediafiles,associated_images,program__associated_images,producer&filter_program=1001&"
            "filter_availability_status=Available&order_by=-airdate&"
            "filter_mediafile_set__video_encoding__mime_type=application/x-mpegURL";
        const QJsonArray videos = catalog("/vexo/v1/videos/", query).results();
        QVERIFY(videos.size() > 3);
        QString previous = QStringLiteral("9999");
        for (const QJsonValue& v : videos) {
            const QJsonObject o = v.toObject();
            QCOMPARE(o.value(QStringLiteral("availability")).toString(), QStringLiteral("Available"));
            QCOMPARE(o.value(QStringLiteral("program"))
                         .toObject()
                         .value(QStringLiteral("resource_uri"))
                         .toString(),
                     QStringLiteral("/vexo/v1/programs/1001/"));
            QVERIFY(
                o.value(QStringLiteral("program")).toObject().contains(QStringLiteral("associated_images")));
            QVERIFY(o.value(QStringLiteral("producer")).toObject().contains(QStringLiteral("name")));
            const QString airdate = o.value(QStringLiteral("airdate")).toString();
            QVERIFY(QDateTime::fromString(airdate, QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
            QVERIFY(airdate <= previous);
            previous = airdate;
            const QJsonArray files = o.value(QStringLiteral("mediafiles")).toArray();
            QVERIFY(std::any_of(files.begin(), files.end(), [](const QJsonValue& f) {
                return f.toObject()
                           .value(QStringLiteral("video_encoding"))
                           .toObject()
                           .value(QStringLiteral("mime_type")) == QLatin1String("application/x-mpegURL");
            }));
            for (const QJsonValue& f : files) {
                QVERIFY(f.toObject().value(QStringLiteral("length_mseconds")).toInteger() > 0);
                QVERIFY(f.toObject()
                            .value(QStringLiteral("video_data_url"))
                            .toString()
                            .startsWith(QString::fromLatin1(m_base)));
            }
        }
        // The same video found again by its media id, alone and in a list.
        const QByteArray mediaId = QByteArray::number(
            videos.at(0).toObject().value(QStringLiteral("tp_media_object_id")).toInteger());
        const QByteArray second = QByteArray::number(
            videos.at(1).toObject().value(QStringLiteral("tp_media_object_id")).toInteger());
        QCOMPARE(catalog("/vexo/v1/videos/", "fields=mediafiles&filter_tp_media_object_id=" + mediaId)
                     .results()
                     .size(),
                 1);
        QCOMPARE(catalog("/vexo/v1/videos/", "filter_tp_media_object_id__in=" + mediaId + "," + second + ",1")
                     .results()
                     .size(),
                 2);
    }

    void chapterBreaksOfEpisode()
    {
        // Find an episode that has segments through the data, then ask as the player does.
        SampleCatalog data(42, QDateTime::currentSecsSinceEpoch());
        int parent = 0;
        for (const SampleCatalog::Video& v : data.videos()) {
            if (v.segment) {
                parent = v.parentId;
                break;
            }
        }
        QVERIFY(parent > 0);
        const QByteArray url = Signer::signQuery(
            m_base, "/vexo/v1/videos/", "filter_segment_parent=" + QByteArray::number(parent), kPlayerKey,
            kPlayerSecret, QDateTime::currentSecsSinceEpoch());
        const QJsonArray segments = exchange(QNetworkRequest(QUrl(QString::fromLatin1(url)))).results();
        QVERIFY(segments.size() >= 1);
        for (const QJsonValue& s : segments) {
            QCOMPARE(s.toObject().value(QStringLiteral("is_segment")).toBool(), true);
            QVERIFY(s.toObject().value(QStringLiteral("segment_start_time")).toInteger() > 0);
        }
    }

    void editorialGroups_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("minimum");
        QTest::newRow("spotlight") << QByteArray("ipad_spotlight") << 5;
        QTest::newRow("previews") << QByteArray("ipad_previews") << 5;
        QTest::newRow("primetime") << QByteArray("ipad_primetime") << 8;
    }

    void editorialGroups()
    {
        QFETCH(QByteArray, name);
        QFETCH(int, minimum);
        // The client's group query: blanks travel as "+", the list comma as %2C.
        const QByteArray query =
            "fields=videos__associated_images,videos__mediafiles,videos__program__associated_images&"
            "filter_name=" +
            name + "&filter_videos__gated_content__in=Not+Gated,Registration+Required";
        const QJsonArray results = catalog("/vexo/v1/groups/", query).results();
        QCOMPARE(results.size(), 1);
        const QJsonArray videos = results.at(0).toObject().value(QStringLiteral("videos")).toArray();
        QVERIFY(videos.size() >= minimum);
        QMap<QString, int> perProgram;
        for (const QJsonValue& v : videos) {
            const QJsonObject o = v.toObject();
            QVERIFY(o.value(QStringLiteral("gated_content")).toInt() <= 1);
            QVERIFY(!o.value(QStringLiteral("mediafiles")).toArray().isEmpty());
            QVERIFY(
                o.value(QStringLiteral("program")).toObject().contains(QStringLiteral("associated_images")));
            ++perProgram
                [o.value(QStringLiteral("program")).toObject().value(QStringLiteral("title")).toString()];
        }
        if (name == "ipad_primetime")
            QVERIFY(*std::max_element(perProgram.begin(), perProgram.end()) >= 2);
        if (name == "ipad_previews") {
            // One members-only video is in the group but not for this client.
            const QJsonArray unfiltered = catalog("/vexo/v1/groups/", "filter_name=ipad_previews").results();
            QCOMPARE(unfiltered.at(0).toObject().value(QStringLiteral("videos")).toArray().size(),
                     videos.size() + 1);
        }
    }

    void revalidation()
    {
        const Answer first = catalog("/vexo/v1/programs/", "fields=producer&filter_producer__name=KZRA");
        QCOMPARE(first.status, 200);
        const QByteArray etag = first.header("ETag");
        const QByteArray lastModified = first.header("Last-Modified");
        QVERIFY(!etag.isEmpty());
        QVERIFY(lastModified.endsWith(" GMT"));

        QNetworkRequest again = headerSigned(
            Signer::sign(m_base, "/vexo/v1/programs/", "fields=producer&filter_producer__name=KZRA",
                         kTabletKey, kTabletSecret, QDateTime::currentSecsSinceEpoch()));
        again.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        again.setRawHeader("If-None-Match", etag);
        QCOMPARE(exchange(again).status, 304);
        again.setRawHeader("If-None-Match", "\"something-else\"");
        QCOMPARE(exchange(again).status, 200);
        QNetworkRequest byDate = again;
        byDate.setRawHeader("If-None-Match", QByteArray());
        byDate.setRawHeader("If-Modified-Since", lastModified);
        QCOMPARE(exchange(byDate).status, 304);
    }

    // ---- images, configuration, analytics ----

    void images_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QSize>("size");
        QTest::newRow("iPad-Large") << QByteArray("/images/programs/1001/iPad-Large.png") << QSize(768, 432);
        QTest::newRow("iPhone-Medium")
            << QByteArray("/images/videos/20003/iPhone-Medium.png") << QSize(480, 270);
        QTest::newRow("iPad-Small") << QByteArray("/images/videos/20003/iPad-Small.png") << QSize(240, 135);
        QTest::newRow("iPhone-Small")
            << QByteArray("/images/programs/1002/iPhone-Small.png") << QSize(160, 90);
        QTest::newRow("second large image")
            << QByteArray("/images/programs/1010/iPad-Large-alt.png") << QSize(768, 432);
        QTest::newRow("station logo") << QByteArray("/station-images/ipad/KZRA.png") << QSize(256, 96);
        QTest::newRow("not an image") << QByteArray("/images/html/videos/20034/iPhone-Medium.png") << QSize();
    }

    // Rendered on server threads in a process that has no GUI application at all.
    void images()
    {
        QFETCH(QByteArray, path);
        QFETCH(QSize, size);
        const Answer a = get(path);
        QCOMPARE(a.status, 200);
        if (!size.isValid()) {
            QVERIFY(a.header("Content-Type").startsWith("text/html"));
            return;
        }
        QCOMPARE(a.header("Content-Type"), QByteArray("image/png"));
        QImage image;
        QVERIFY(image.loadFromData(a.body, "PNG"));
        QCOMPARE(image.size(), size);
        QVERIFY(image.pixel(2, size.height() / 3) != image.pixel(2, size.height() - 2)); // field and band
        QCOMPARE(get(path).body, a.body); // the same picture every time
    }

    void remoteConfigurationFile()
    {
        Answer a = get("/config/ipad-conf.plist");
        QCOMPARE(a.status, 200);
        QVERIFY(a.body.contains("background_refresh_time=108000\r\n"));
        QVERIFY(a.body.endsWith("minimum_version=1.0\r\n"));
        QCOMPARE(a.body.count("\r\n"), a.body.count("\n"));

        QCOMPARE(post("/_sandbox/config", R"({"minimum_version": "99.0", "background_refresh_time": 7200})")
                     .status,
                 200);
        a = get("/config/ipad-conf.plist");
        QVERIFY(a.body.contains("background_refresh_time=7200\r\n"));
        QVERIFY(a.body.contains("minimum_version=99.0\r\n"));

        // Refused changes leave the file alone.
        QCOMPARE(post("/_sandbox/config", R"({"minimum_version": "1=2"})").status, 400);
        QCOMPARE(post("/_sandbox/config", R"({"background_fast_time": 1.5})").status, 400);
        QCOMPARE(get("/config/ipad-conf.plist").body, a.body);

        QCOMPARE(post("/_sandbox/config", R"({"raw": "background_fast_time = 5\r\na=b=c\r\n"})").status, 200);
        QCOMPARE(get("/config/ipad-conf.plist").body, QByteArray("background_fast_time = 5\r\na=b=c\r\n"));
        QCOMPARE(post("/_sandbox/reset", QByteArray()).status, 200);
        QVERIFY(get("/config/ipad-conf.plist").body.endsWith("minimum_version=1.0\r\n"));
    }

    void analyticsBatch_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<int>("status");
        const QByteArray hit =
            R"({"seq": 1, "type": "pageview", "path": "/spotlight", "time": "2026-01-02T03:04:05Z"})";
        QTest::newRow("good") << QByteArray("") << QByteArray("application/json") << 200;
        QTest::newRow("not JSON") << QByteArray("{\"account\":") << QByteArray("application/json") << 400;
        QTest::newRow("hits not a list") << QByteArray(R"({"account": "ZA-20481-7", "hits": {}})")
                                         << QByteArray("application/json") << 400;
        QTest::newRow("unknown hit type")
            << QByteArray(
                   R"({"account": "ZA-20481-7", "hits": [{"seq": 1, "type": "click", "time": "2026-01-02T03:04:05Z"}]})")
            << QByteArray("application/json") << 400;
        QTest::newRow("path without slash")
            << QByteArray(
                   R"({"account": "ZA-20481-7", "hits": [{"seq": 1, "type": "pageview", "path": "x", "time": "2026-01-02T03:04:05Z"}]})")
            << QByteArray("application/json") << 400;
        QTest::newRow("event without action")
            << QByteArray(
                   R"({"account": "ZA-20481-7", "hits": [{"seq": 1, "type": "event", "category": "c", "time": "2026-01-02T03:04:05Z"}]})")
            << QByteArray("application/json") << 400;
        QTest::newRow("no time")
            << QByteArray(
                   R"({"account": "ZA-20481-7", "hits": [{"seq": 1, "type": "pageview", "path": "/"}]})")
            << QByteArray("application/json") << 400;
        QTest::newRow("unknown account") << QByteArray(R"({"account": "ZA-1-1", "hits": [)" + hit + "]}")
                                         << QByteArray("application/json") << 403;
        QTest::newRow("form body") << QByteArray(R"({"account": "ZA-20481-7", "hits": [)" + hit + "]}")
                                   << QByteArray("application/x-www-form-urlencoded") << 415;
    }

    void analyticsBatch()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(int, status);
        const QByteArray good = R"({"account": "ZA-20481-7", "hits": [
            {"seq": 7, "type": "pageview", "path": "/spotlight", "referrer": "", "time": "2026-01-02T03:04:05.120Z",
             "custom_variables": [{"index": 1, "name": "Station", "value": "KZRA", "scope": 1}]},
            {"seq": 8, "type": "event", "category": "Video", "action": "Play", "label": "Salt Road", "value": null,
             "time": "2026-01-02T03:04:06Z"}]})";
        const Answer a = post("/collect", body.isEmpty() ? good : body, contentType);
        QCOMPARE(a.status, status);
        const QJsonArray hits = get("/_sandbox/analytics").json().value(QStringLiteral("hits")).toArray();
        if (status != 200) {
            QVERIFY(!a.json().value(QStringLiteral("detailed_description")).toString().isEmpty());
            QCOMPARE(hits.size(), 0); // nothing of a refused batch is kept
            return;
        }
        QCOMPARE(a.json().value(QStringLiteral("accepted")).toInt(), 2);
        QCOMPARE(hits.size(), 2);
        QCOMPARE(hits.at(0).toObject().value(QStringLiteral("path")).toString(),
                 QStringLiteral("/spotlight"));
        QCOMPARE(hits.at(1).toObject().value(QStringLiteral("action")).toString(), QStringLiteral("Play"));
        // The same batch again (its answer was lost): acknowledged, kept once.
        const Answer resent = post("/collect", good);
        QCOMPARE(resent.json().value(QStringLiteral("accepted")).toInt(), 2);
        QCOMPARE(resent.json().value(QStringLiteral("duplicates")).toInt(), 2);
        QCOMPARE(get("/_sandbox/analytics").json().value(QStringLiteral("hits")).toArray().size(), 2);
    }

    // ---- push service ----

    void pushRequestValidated_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QJsonValue>("token"); // of the kept registration

        const QByteArray device = "0123456789abcdef0123456789abcdef";
        QTest::newRow("no token") << "/push/register/" + device + "/org.zrp.tablet" << 200 << QJsonValue();
        QTest::newRow("hex token") << "/push/register/" + device + "/org.zrp.tablet/00ff1Ab2" << 200
                                   << QJsonValue("00ff1Ab2");
        QTest::newRow("upper-case device")
            << "/push/register/" + device.toUpper() + "/org.zrp.tablet" << 400 << QJsonValue();
        QTest::newRow("short device")
            << "/push/register/" + device.left(31) + "/org.zrp.tablet" << 400 << QJsonValue();
        QTest::newRow("device not hex")
            << "/push/register/g" + device.mid(1) + "/org.zrp.tablet" << 400 << QJsonValue();
        QTest::newRow("token in brackets")
            << "/push/register/" + device + "/org.zrp.tablet/%3C00ff1ab2%3E" << 400 << QJsonValue();
        QTest::newRow("token with blank")
            << "/push/register/" + device + "/org.zrp.tablet/00ff%201ab2" << 400 << QJsonValue();
        QTest::newRow("escaped slash stays one segment")
            << "/push/register/" + device + "/org.zrp.tablet/00%2Fff" << 400 << QJsonValue();
        QTest::newRow("extra segment")
            << "/push/register/" + device + "/org.zrp.tablet/00ff/x" << 404 << QJsonValue();
        QTest::newRow("no app id") << "/push/register/" + device << 404 << QJsonValue();
        QTest::newRow("fetch, bad device")
            << "/push/new/" + device.toUpper() + "/org.zrp.tablet" << 400 << QJsonValue();
        QTest::newRow("unknown operation")
            << "/push/remove/" + device + "/org.zrp.tablet" << 404 << QJsonValue();
    }

    void pushRequestValidated()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, status);
        QFETCH(QJsonValue, token);
        const Answer a = get(path);
        QCOMPARE(a.status, status);
        const QJsonArray kept =
            get("/_sandbox/push/registrations").json().value(QStringLiteral("registrations")).toArray();
        if (status != 200) {
            QVERIFY(!a.json().value(QStringLiteral("detailed_description")).toString().isEmpty());
            QCOMPARE(kept.size(), 0);
            return;
        }
        QCOMPARE(a.json().value(QStringLiteral("registered")), QJsonValue(true));
        QCOMPARE(kept.size(), 1);
        const QJsonObject r = kept.first().toObject();
        QCOMPARE(r.value(QStringLiteral("device")).toString(),
                 QStringLiteral("0123456789abcdef0123456789abcdef"));
        QCOMPARE(r.value(QStringLiteral("app")).toString(), QStringLiteral("org.zrp.tablet"));
        QCOMPARE(r.value(QStringLiteral("token")), token);
    }

    void pushNotificationsDeliveredOnce()
    {
        const QByteArray a = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", b = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
        QCOMPARE(get("/push/register/" + a + "/org.zrp.tablet/01").status, 200);
        QCOMPARE(get("/push/register/" + b + "/org.zrp.tablet").status, 200);
        QCOMPARE(get("/_sandbox")
                     .json()
                     .value(QStringLiteral("services"))
                     .toObject()
                     .value(QStringLiteral("push")),
                 QJsonValue(QStringLiteral("/push/")));

        // Orders the service cannot take.
        for (const QByteArray& bad :
             {QByteArray(R"({"device": "A", "short": "x"})"), QByteArray(R"({"device": "*"})"),
              QByteArray(R"({"device": "*", "short": "x", "long": 5})"), QByteArray("[]")})
            QVERIFY2(post("/_sandbox/push/notifications", bad).status == 400, bad.constData());

        QCOMPARE(post("/_sandbox/push/notifications",
                      R"({"device": ")" + a +
                          R"(", "short": "Quilting Bee returns", "long": "New season Friday at 8."})")
                     .status,
                 200);
        const Answer everyone =
            post("/_sandbox/push/notifications", R"({"device": "*", "short": "Pledge week"})");
        QCOMPARE(everyone.json().value(QStringLiteral("queued_for")).toArray().size(), 2);

        const QJsonArray forA = get("/push/new/" + a + "/org.zrp.tablet").results();
        QCOMPARE(forA.size(), 2);
        QCOMPARE(forA.at(0).toObject(),
                 (QJsonObject{{"short", "Quilting Bee returns"}, {"long", "New season Friday at 8."}}));
        QCOMPARE(forA.at(1).toObject(), (QJsonObject{{"short", "Pledge week"}})); // no "long" at all
        QCOMPARE(get("/push/new/" + a + "/org.zrp.tablet").results().size(), 0);  // handed out once

        QCOMPARE(get("/push/new/" + b + "/org.zrp.tablet").results().size(), 1);

        // A reset forgets registrations and what is still queued.
        QCOMPARE(post("/_sandbox/push/notifications", R"({"device": ")" + a + R"(", "short": "x"})").status,
                 200);
        QCOMPARE(post("/_sandbox/reset", QByteArray()).status, 200);
        QCOMPARE(get("/push/new/" + a + "/org.zrp.tablet").results().size(), 0);
        QCOMPARE(get("/_sandbox/push/registrations")
                     .json()
                     .value(QStringLiteral("registrations"))
                     .toArray()
                     .size(),
                 0);
    }

    // ---- sample data ----

    void sampleDataDeterministicAndComplete()
    {
        const qint64 now = 1800000000;
        const SampleCatalog a(7, now), b(7, now), c(8, now);
        auto all = [](const SampleCatalog& cat) {
            const SampleCatalog::Answer p = cat.list(
                QStringLiteral("programs"),
                {{QByteArray(), QStringLiteral("fields"), QStringLiteral("associated_images,producer")}},
                QString());
            const SampleCatalog::Answer v =
                cat.list(QStringLiteral("videos"),
                         {{QByteArray(), QStringLiteral("fields"),
                           QStringLiteral("mediafiles,associated_images,producer")}},
                         QString());
            return QJsonDocument(QJsonArray{p.results, v.results}).toJson(QJsonDocument::Compact);
        };
        QCOMPARE(all(a), all(b));
        QVERIFY(all(a) != all(c));
        // Dates follow "now"; everything else stays.
        const SampleCatalog later(7, now + 86400);
        QCOMPARE(later.videos().at(100).airdate, a.videos().at(100).airdate + 86400);
        QCOMPARE(later.videos().at(100).title, a.videos().at(100).title);

        QCOMPARE(a.programs().size(), 80);
        QMap<QString, int> byProducer;
        for (const SampleCatalog::Program& p : a.programs())
            ++byProducer[a.producers().at(p.producer).name];
        QCOMPARE(byProducer.value(QStringLiteral("ZRP")), 30);
        int localStations = 0;
        for (const SampleCatalog::Station& s : a.stations()) {
            if (s.local) {
                ++localStations;
                QVERIFY(byProducer.value(s.callsign) > 0);
            }
        }
        QCOMPARE(localStations, 3);

        QVERIFY(a.videos().size() >= 1300 && a.videos().size() <= 1700);
        QSet<QString> types, hlsNames;
        QMap<int, int> expiringWithin; // days -> count
        int expired = 0, gated = 0, segments = 0, liverail = 0;
        for (const SampleCatalog::Video& v : a.videos()) {
            types.insert(v.type);
            QVERIFY(v.airdate <= now);
            if (v.expires >= 0 && v.expires < now)
                ++expired;
            for (int days : {1, 3, 5, 9}) {
                if (v.expires > now && v.expires <= now + days * 86400)
                    ++expiringWithin[days];
            }
            gated += v.gated == 1;
            if (v.segment) {
                ++segments;
                QVERIFY(v.segmentStartMs > 0);
                QVERIFY(v.parentId > 0);
            }
            for (const SampleCatalog::MediaFile& f : v.files) {
                if (f.mimeType == QLatin1String("application/x-mpegURL"))
                    hlsNames.insert(f.name);
            }
        }
        for (const SampleCatalog::Producer& p : a.producers())
            liverail += p.liverailId != 0;

        // The odd cases the client must cope with are all in the data.
        int htmlImages = 0, strayColons = 0, twiceLarge = 0, noWebsite = 0, shops = 0, buyLinks = 0,
            notHls = 0;
        auto images = [&](const QList<SampleCatalog::Image>& list) {
            int large = 0;
            for (const SampleCatalog::Image& img : list) {
                htmlImages += img.path.startsWith(QLatin1String("/images/html/"));
                strayColons += img.path.endsWith(QLatin1Char(';'));
                large += img.usage == QLatin1String("iPad-Large");
            }
            twiceLarge += large > 1;
        };
        for (const SampleCatalog::Program& p : a.programs()) {
            images(p.images);
            noWebsite += !p.website || p.website->isEmpty();
            shops += !p.shopUrl.isEmpty();
        }
        for (const SampleCatalog::Video& v : a.videos()) {
            images(v.images);
            buyLinks += !v.itunesLink.isEmpty() || !v.buyDvdLink.isEmpty();
            notHls += std::any_of(v.files.begin(), v.files.end(), [](const SampleCatalog::MediaFile& f) {
                return f.mimeType != QLatin1String("application/x-mpegURL");
            });
        }
        QVERIFY(htmlImages > 0);
        QVERIFY(strayColons > 0);
        QVERIFY(twiceLarge > 0);
        QVERIFY(noWebsite > 0 && noWebsite < 80);
        QVERIFY(shops > 0 && shops < 80);
        QVERIFY(buyLinks > 0);
        QVERIFY(notHls > 0);
        for (const char* t : {"Episode", "Clip", "Segment", "Promotion"})
            QVERIFY2(types.contains(QLatin1String(t)), t);
        QVERIFY(types.size() >= 6);
        QCOMPARE(hlsNames, (QSet<QString>{QStringLiteral("iPad-16x9"), QStringLiteral("iPad-4x3"),
                                          QStringLiteral("iPhone-16x9"), QStringLiteral("iPhone-4x3")}));
        QVERIFY(expiringWithin.value(1) > 0);
        QVERIFY(expiringWithin.value(3) > expiringWithin.value(1));
        QVERIFY(expiringWithin.value(5) > expiringWithin.value(3));
        QVERIFY(expiringWithin.value(9) > expiringWithin.value(5));
        QVERIFY(expired > 0);
        QVERIFY(gated > 0);
        QVERIFY(segments > 0);
        QVERIFY(liverail > 0 && liverail < a.producers().size());
        QCOMPARE(a.groups().size(), 3);
    }

    // ---- life cycle ----

    void stopEndsKeptAliveConnections()
    {
        SandboxServer server(SandboxOptions{3, QString(), 0});
        QVERIFY(server.start());
        QTcpSocket idle;
        idle.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(idle.waitForConnected(10000));
        idle.write("GET /_sandbox/ping HTTP/1.1\r\nHost: x\r\n\r\n");
        QTRY_VERIFY(idle.bytesAvailable() > 0);

        // Only the loopback interface listens.
        for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
            if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback())
                continue;
            QTcpSocket outside;
            outside.connectToHost(address, server.port());
            QVERIFY(!outside.waitForConnected(5000));
            break;
        }

        const quint16 port = server.port();
        server.stop();
        QVERIFY(!server.isRunning());
        QTRY_COMPARE(idle.state(), QAbstractSocket::UnconnectedState);
        QTcpSocket after;
        after.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!after.waitForConnected(5000));
        // And it can start again.
        QVERIFY(server.start());
        QCOMPARE(exchange(QNetworkRequest(QUrl(server.baseUrl().toString() + "/_sandbox/ping"))).status, 204);
    }

    void dataDirKeepsRequestJournal()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        {
            SandboxServer server(SandboxOptions{1, dir.filePath(QStringLiteral("sandbox")), 0});
            QVERIFY(server.start());
            QCOMPARE(exchange(QNetworkRequest(QUrl(server.baseUrl().toString() + "/config/ipad-conf.plist")))
                         .status,
                     200);
        }
        QFile journal(dir.filePath(QStringLiteral("sandbox/requests.jsonl")));
        QVERIFY(journal.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = journal.readAll().split('\n');
        QCOMPARE(lines.size(), 2); // one entry and the final newline
        const QJsonObject entry = QJsonDocument::fromJson(lines.at(0)).object();
        QCOMPARE(entry.value(QStringLiteral("path")).toString(), QStringLiteral("/config/ipad-conf.plist"));
        QCOMPARE(entry.value(QStringLiteral("status")).toInt(), 200);
    }

    void executableRunsAndStopsOnSigterm()
    {
        QProcess credentials;
        credentials.start(QStringLiteral(ZRP_SANDBOX_EXE), {QStringLiteral("--print-credentials")});
        QVERIFY(credentials.waitForFinished(20000));
        QCOMPARE(credentials.exitCode(), 0);
        const QJsonObject printed = QJsonDocument::fromJson(credentials.readAllStandardOutput()).object();
        QCOMPARE(printed, SandboxServer::credentials());
        const QJsonArray pairs = printed.value(QStringLiteral("catalog")).toArray();
        QCOMPARE(pairs.size(), 2);
        QCOMPARE(pairs.at(0).toObject().value(QStringLiteral("consumerKey")).toString(),
                 QString::fromLatin1(kTabletKey));
        QCOMPARE(printed.value(QStringLiteral("player_catalog")).toArray().size(), 2);
        QVERIFY(printed.value(QStringLiteral("analytics"))
                    .toObject()
                    .value(QStringLiteral("account_ids"))
                    .toArray()
                    .contains(QStringLiteral("ZP-40960512-1")));

        QProcess process;
        process.start(QStringLiteral(ZRP_SANDBOX_EXE),
                      {QStringLiteral("--seed"), QStringLiteral("5"), QStringLiteral("--fault"),
                       QStringLiteral("prefix=/config/,status=503")});
        QVERIFY(process.waitForStarted(20000));
        QVERIFY(process.waitForReadyRead(20000));
        const QByteArray url = process.readLine().trimmed();
        QVERIFY2(url.startsWith("http://127.0.0.1:"), url.constData());
        QCOMPARE(exchange(QNetworkRequest(QUrl(url + "/config/ipad-conf.plist"))).status, 503);
        QCOMPARE(exchange(QNetworkRequest(QUrl(url + "/config/ipad-conf.plist"))).status, 200);
        process.terminate(); // SIGTERM
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);

        QProcess refused;
        refused.start(QStringLiteral(ZRP_SANDBOX_EXE),
                      {QStringLiteral("--fault"), QStringLiteral("prefix=/x")});
        QVERIFY(refused.waitForFinished(20000));
        QCOMPARE(refused.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestSandbox)
#include "test_sandbox.moc"
