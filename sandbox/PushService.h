#pragma once

#include "SandboxHttp.h"

#include <QJsonArray>
#include <QJsonObject>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

namespace zrp::sandbox {

// The push registration service.
//
//   GET /push/register/<device id>/<app id>[/<token>]  keeps the registration; 200 with a JSON ack
//   GET /push/new/<device id>/<app id>                 {"results": [{"short", "long"}, ...]}: what
//                                                      is queued for the device, handed out once
//
// A device id is 32 lower-case hex digits and a token hex digits only; anything else answers 400
// and is not kept. Control:
//
//   POST /_sandbox/push/notifications  {"device": "<id>" or "*", "short": "...", "long": "..."}
//                                      queues one for the device, or for every registered one;
//                                      "long" may be left out (the element then has none)
//   GET  /_sandbox/push/notifications  what is still queued, by device
//   GET  /_sandbox/push/registrations  every registration kept, oldest first
class PushService
{
public:
    static constexpr int kMaxRegistrations = 10000;
    static constexpr int kMaxQueuedPerDevice = 1000;

    std::optional<HttpReply> route(const HttpRequest& request);
    void clear();

private:
    HttpReply serviceReply(const HttpRequest& request);
    HttpReply queueReply(const HttpRequest& request);

    mutable std::mutex m_mutex;
    QJsonArray m_registrations;
    qint64 m_nextIndex = 1;
    std::map<QString, std::deque<QJsonObject>> m_queued; // by device id
};

} // namespace zrp::sandbox
