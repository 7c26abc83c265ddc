// Every adapter's result and error readers on arbitrary bodies: the first byte picks the adapter.
#include "ZRPAPIWrapper.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const zrp::ZRPSigningInfo info{{"consumerKey", "k"},
                                          {"secretKey", "s"},
                                          {"consumerSecret", "c"},
                                          {"tokenKey", "t"},
                                          {"tokenSecret", "u"}};
    static std::shared_ptr<zrp::ZRPAPIWrapper> wrappers[7];
    const int type = data[0] % 7;
    if (!wrappers[type])
        wrappers[type] = zrp::ZRPAPIWrapper::wrapperOfType(type, info);
    const QByteArray body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    zrp::Error error;
    (void)wrappers[type]->resultsFromData(body, &error);
    const zrp::Error status(zrp::ZRPAPIWrapperErrorDomain, 400 + (data[0] % 100), {{"message", body}});
    const zrp::Error rebuilt = wrappers[type]->specificErrorWithError(status);
    if (rebuilt.isNull())
        std::abort(); // a failure never turns into success
    return 0;
}
