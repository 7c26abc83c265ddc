#pragma once

#include "net/HttpClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

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
    HttpResponse out;
    bool done = false;
    HttpClient::shared().send(r, [&](const HttpResponse& response, const Error&) {
        out = response;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 20000))
        qWarning("no answer from %s", qPrintable(url.toString()));
    return out;
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
