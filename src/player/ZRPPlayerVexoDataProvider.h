#pragma once

#include "ZRPAPIWrapper.h"
#include "ZRPPlayerDataProviderDelegate.h"
#include "ZRPPlayerVideo.h"

#include <memory>

namespace zrp {

// Builds the player's catalog requests and turns their results into records.
class ZRPPlayerVexoDataProvider
{
public:
    ZRPPlayerVexoDataProvider();

    void getVideosForTPMediaId(const QString& mediaId, const QString& requestId,
                               ZRPPlayerDataProviderDelegate* delegate);
    void getChapterBreakTimesForVideoId(const QString& videoId, const QString& requestId,
                                        ZRPPlayerDataProviderDelegate* delegate);
    void cancelRequestWithId(const QString& requestId);

    static QList<ZRPPlayerVideo> videosFromResults(const QVariantList& results);
    static QList<int> chapterTimesFromResults(const QVariantList& results);
    // The tablet pair unless the device describes itself as something else.
    static ZRPSigningInfo signingInfo();
    static QString videosURL(const QString& mediaId);
    static QString chapterBreaksURL(const QString& videoId);

    std::shared_ptr<ZRPAPIWrapper> apiWrapper() const { return m_apiWrapper; }

private:
    std::shared_ptr<ZRPAPIWrapper> m_apiWrapper;
};

} // namespace zrp
