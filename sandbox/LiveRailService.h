#pragma once

#include "SandboxHttp.h"

#include <QJsonArray>
#include <mutex>
#include <optional>

namespace zrp::sandbox {

// The LiveRail ad server: one VAST 2.0 InLine ad per request at "/liverail/", with three MediaFile
// bitrates, and Impression and quartile Tracking URLs that lead back here and are recorded when
// hit ("/liverail/track/<event>?ad=ID"). Two fixed misbehaviours for tests:
//   - LR_VIDEO_POSITION=1200 answers a VAST document without an ad;
//   - LR_PUBLISHER_ID=9999 answers HTTP 503.
// A request without a numeric publisher id and position, or with LR_SCHEMA other than "vast2",
// answers 400. GET /_sandbox/liverail lists the tracking hits; DELETE clears them.
class LiveRailService
{
public:
    static constexpr int kNoAdPosition = 1200;
    static constexpr int kFailingPublisher = 9999;
    static constexpr int kMaxHits = 10000;

    // The answer when the path is this service's; none otherwise.
    std::optional<HttpReply> route(const HttpRequest& request);

    QJsonArray trackingHits() const;
    void clear();

private:
    HttpReply adReply(const HttpRequest& request);
    HttpReply trackReply(const HttpRequest& request);

    mutable std::mutex m_mutex;
    QJsonArray m_hits;
    qint64 m_nextIndex = 1;
};

} // namespace zrp::sandbox
