#pragma once

#include "SandboxHttp.h"

#include <QJsonArray>
#include <QJsonObject>
#include <mutex>
#include <optional>

namespace zrp::sandbox {

// The outside services the client reports to at launch.
//
// Audience measurement: GET "/audience/beacon?c2=..&ev=..&vid=..&app=..&ver=..&ts=.." keeps one
// beacon. c2 must be a 7-digit customer id, ev one of start, foreground, background, vid 32
// lower-case hex digits (a digest: the secret it is made from never travels), app and ver
// present and ts a number; anything else answers 400 and is not kept. GET /_sandbox/audience
// lists the beacons; DELETE clears them.
//
// Survey invitations: GET "/survey/eligibility?customer=..&survey=..&launches=..&device=.."
// answers {"eligible": false} until POST /_sandbox/survey {"eligible": true, "title"?, "message"?}
// makes every survey eligible: the answer then carries "url" (a page here,
// "/survey/take/<survey>") and the title and message when they were given. customer must be 24
// characters of Base64, survey and device present, launches a number; else 400.
// GET /_sandbox/survey shows the setting.
class OutsideServices
{
public:
    static constexpr int kMaxBeacons = 10000;

    // The answer when the path is one of these services'; none otherwise.
    std::optional<HttpReply> route(const HttpRequest& request);

    QJsonArray beacons() const;
    void clear(); // no beacons, surveys not eligible

private:
    HttpReply beaconReply(const HttpRequest& request);
    HttpReply eligibilityReply(const HttpRequest& request);
    HttpReply surveyPage(const HttpRequest& request);
    HttpReply surveyControl(const HttpRequest& request);

    mutable std::mutex m_mutex;
    QJsonArray m_beacons;
    qint64 m_nextIndex = 1;
    QJsonObject m_survey; // {"eligible", "title"?, "message"?}
};

} // namespace zrp::sandbox
