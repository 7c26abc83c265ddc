#pragma once

#include "SandboxHttp.h"

#include <QJsonArray>
#include <mutex>
#include <optional>

namespace zrp::sandbox {

// The diagnostic log service: GET "/log/<source>/?severity=..&component=..&event_type=..&message=.."
// keeps one record (every query parameter, decoded) under its source. A record without those
// four, or with a severity other than Information, Warning, Error or Debug, answers 400 and is
// not kept. GET /_sandbox/logs[?since=INDEX] lists the records; DELETE clears them.
class LogService
{
public:
    static constexpr int kMaxRecords = 10000;

    std::optional<HttpReply> route(const HttpRequest& request);

    QJsonArray records(qint64 sinceIndex) const;
    void clear();

private:
    HttpReply logReply(const HttpRequest& request);

    mutable std::mutex m_mutex;
    QJsonArray m_records;
    qint64 m_nextIndex = 1;
};

} // namespace zrp::sandbox
