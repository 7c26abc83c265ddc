#pragma once

#include "net/HttpClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <memory>

namespace zrp::test {

// One exchange with a local test server (the embedded network's control side, mostly), waited
// for on the real network event. A body is sent as JSON.
inline HttpResponse fetch(const QUrl& url, const QByteArray& method = "GET",
                          const QByteArray& body = QByteArray())
{
    HttpRequest r(url);
    r.method = method;
    r.body = body;
    if (!body.isEmpty())
        r.setHeader("Content-Type", "application/json");
    // The answer lands in storage of its own: one that comes after the wait gave up must not
    // write into a finished call.
    struct Exchange
    {
        HttpResponse response;
        bool done = false;
    };
    auto exchange = std::make_shared<Exchange>();
    HttpClient::shared().send(r, [exchange](const HttpResponse& response, const Error&) {
        exchange->response = response;
        exchange->done = true;
    });
    if (!QTest::qWaitFor([&] { return exchange->done; }, 20000))
        qWarning("no answer from %s", qPrintable(url.toString()));
    return exchange->response;
}

// A request to the embedded network's control side (/_sandbox/...); the answer as a JSON object
// (empty when it is not one).
inline QJsonObject sandboxControl(const QUrl& base, const QString& path, const QByteArray& method = "GET",
                                  const QJsonObject& body = {})
{
    const QByteArray bytes =
        body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
    return QJsonDocument::fromJson(fetch(QUrl(base.toString() + path), method, bytes).body).object();
}

} // namespace zrp::test
