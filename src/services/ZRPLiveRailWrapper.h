#pragma once

#include "ZRPAPIWrapper.h"

namespace zrp {

// The LiveRail ad server: unsigned requests, VAST 2 answers read into ad maps with the keys
// "adURL", "clickURL", "Duration", "Impressions" and "TrackingEvents".
class ZRPLiveRailWrapper : public ZRPAPIWrapper
{
public:
    using ZRPAPIWrapper::ZRPAPIWrapper;
    static bool requiredSigningInfoAvailable(const ZRPSigningInfo&) { return true; }

    // Never an error: a body that is not VAST, or not XML at all, yields an empty list.
    QVariant resultsFromData(const QByteArray& data, Error* error) override;
    Error specificErrorWithError(const Error& error) override { return error; }

    // The reading itself: at most one ad, the first InLine of the document.
    static QVariantList adsFromVAST(const QByteArray& data);

    // Bounds that keep a hostile document from growing the reading without limit.
    static constexpr int kMaxDepth = 256;
    static constexpr int kMaxUrlsPerList = 64;
    static constexpr int kMaxTrackingEvents = 64;
    static constexpr int kMaxDurationChars = 64;
};

// The leading integer of a text as the ad server's numbers are read: leading blanks skipped, an
// optional sign, then digits; anything else ends it. 0 when there are no digits; clamped to int.
int leadingInteger(QStringView text);

} // namespace zrp
