#pragma once

#include "core/Error.h"

#include <QString>
#include <any>

namespace zrp {

// How the data providers report to ZRPPlayerData, on the background queue. Results are a
// QList<ZRPPlayerVideo>, a QList<int> of chapter times or a QList<ZRPAdItem>, by request.
class ZRPPlayerDataProviderDelegate
{
public:
    virtual ~ZRPPlayerDataProviderDelegate() = default;
    virtual void didFinishWithResults(const QString& requestId, const std::any& results) = 0;
    virtual void didFailWithError(const QString& requestId, const Error& error) = 0;
};

} // namespace zrp
