// The VAST reading and the ad items made from it, on arbitrary bytes: it must end, stay within
// its bounds and never crash.
#include "ZRPAdItem.h"
#include "ZRPLiveRailWrapper.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QVariantList ads = zrp::ZRPLiveRailWrapper::adsFromVAST(bytes);
    if (ads.size() > 1)
        std::abort(); // only the first InLine is ever read
    for (const QVariant& ad : ads) {
        const QVariantMap map = ad.toMap();
        if (map.value("Impressions").toList().size() > zrp::ZRPLiveRailWrapper::kMaxUrlsPerList)
            std::abort();
        if (map.value("TrackingEvents").toMap().size() > zrp::ZRPLiveRailWrapper::kMaxTrackingEvents)
            std::abort();
        if (auto item = zrp::ZRPAdItem::adItemWithDictionary(map)) {
            if (item->adUrl.isEmpty())
                std::abort();
            (void)item->toVariantMap();
        }
    }
    return 0;
}
