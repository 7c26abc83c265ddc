#pragma once

#include "ZRPPlayerProgram.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace zrp {

enum ZRPPlayerVideoType
{
    ZRPPlayerVideoTypeClip = 0,
    ZRPPlayerVideoTypeEpisode = 1,
    ZRPPlayerVideoTypeSegment = 2,
    ZRPPlayerVideoTypePromotion = 3,
    ZRPPlayerVideoTypeOther = 4,
};

// The player's own record of one catalog video.
class ZRPPlayerVideo
{
public:
    // None unless a media file fit for the device was found and gave a "video_data_url".
    static std::optional<ZRPPlayerVideo> videoWithDictionary(const QVariantMap& dictionary);
    static ZRPPlayerVideoType typeEnumForTypeString(const QString& type);

    QString title;
    QString shortDescription;
    QString longDescription;
    QString nolaEpisode;
    QString nolaRoot;
    QString resourceURI() const { return m_resourceURI; }
    void setResourceURI(const QString& uri); // also sets videoId
    QString videoId;
    QString episodeURL;
    std::optional<qint64> mediaId;
    ZRPPlayerVideoType type = ZRPPlayerVideoTypeOther;
    bool isGated = false;
    QDateTime airDate;
    QDateTime expirationDate;
    QMap<QString, QString> buyLinks() const { return m_buyLinks; }
    QString imageURL;
    QString thumbnailURL;
    QString videoDataURL;
    double duration = 0; // seconds
    QString episodeLink() const { return m_episodeLink; }
    ZRPPlayerProgram program;
    qint32 liverailId = 0;
    std::optional<double> seekTime;
    QDateTime lastWatched;
    QList<double> segments;

    QString description() const;

private:
    QString m_resourceURI;
    QMap<QString, QString> m_buyLinks;
    QString m_episodeLink;
};

} // namespace zrp
