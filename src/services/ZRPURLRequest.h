#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <memory>

namespace zrp {

// One HTTP request of the service access library. The URL is kept as text because both signing
// schemes work on the exact characters that go on the wire; a parsed URL would normalise them.
struct ZRPURLRequest
{
    QString urlString;
    QByteArray httpMethod = "GET";
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray httpBody;
    int timeoutSeconds = 60;
    bool reloadIgnoringCache = false;

    ZRPURLRequest() = default;
    explicit ZRPURLRequest(QString url) : urlString(std::move(url)) {}

    void setValueForHTTPHeaderField(const QByteArray& value, const QByteArray& field);
    QByteArray valueForHTTPHeaderField(const QByteArray& field) const; // null when absent
};

// Requests are compared by identity (the connection registry and the wrapper's table key on it),
// so they always travel as shared pointers.
using ZRPRequestPtr = std::shared_ptr<ZRPURLRequest>;

} // namespace zrp
