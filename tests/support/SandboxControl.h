#pragma once

#include "net/HttpClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace zrp::test {

// A request to the embedded network's control side (/_sandbox/...), waited for on the real
// network event. Answers the body as a JSON object (empty when it is not one).
inline QJsonObject sandboxControl(const QUrl& base, const QString& path, const QByteArray& method = "GET",
                                  const QJsonObject& body = {})
{
    HttpRequest r(QUrl(base.toString() + path));
    r.method = method;
    if (!body.isEmpty()) {
        r.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
        r.setHeader("Content-Type", "application/json");
    }
    QJsonObject out;
    bool done = false;
    HttpClient::shared().send(r, [&](const HttpResponse& response, const Error&) {
        out = QJsonDocument::fromJson(response.body).object();
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 20000))
        qWarning("no answer from the sandbox for %s", qPrintable(path));
    return out;
}

} // namespace zrp::test
