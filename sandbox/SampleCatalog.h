#pragma once

#include "SandboxHttp.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>

namespace zrp::sandbox {

// The invented catalog of the embedded network: programs, videos and the three editorial groups,
// generated from a seed (same seed, same catalog) with every date relative to `now`. It is built
// once and then only read, so any number of server threads may query it at once.
class SampleCatalog
{
public:
    static constexpr const char* kNetworkProducer = "ZRP";

    struct Station
    {
        QString callsign;
        QString name;
        bool local = false; // one of the three stations with programs of their own and a schedule
    };

    struct Image
    {
        QString usage; // "iPad-Large", "iPad-Small", "iPhone-Medium", "iPhone-Small"
        QString path;  // under the server, e.g. "/images/programs/1001/iPad-Large.png"
    };

    struct Producer
    {
        int id = 0;
        QString name;
        int liverailId = 0; // 0: none
    };

    struct Program
    {
        int id = 0;
        QString title, slug, nolaRoot, shortDescription, longDescription, shopUrl;
        std::optional<QString> website; // nullopt: JSON null; some are also ""
        int producer = 0;               // index into producers()
        QList<Image> images;
    };

    struct MediaFile
    {
        QString name, mimeType, path;
        qint64 lengthMs = 0;
        int bitrate = 0;
    };

    struct Video
    {
        int id = 0;
        int program = 0; // index into programs()
        QString title, shortDescription, longDescription, type, nolaEpisode, itunesLink, buyDvdLink;
        qint64 mediaId = 0;
        int gated = 0; // 0 not gated, 1 registration required, 2 members only
        qint64 airdate = 0;
        qint64 expires = -1; // seconds since 1970; -1: never
        bool segment = false;
        int parentId = 0;           // segments: the id of the episode they belong to
        qint64 segmentStartMs = -1; // segments: where they start in that episode
        QList<MediaFile> files;
        QList<Image> images;
        bool available(qint64 now) const { return expires < 0 || expires > now; }
    };

    struct Group
    {
        int id = 0;
        QString name, title;
        QList<int> videos; // indexes into videos()
    };

    struct ImageLabel
    {
        QString title;
        QString caption;
        quint32 rgb = 0;
    };

    // The answer to one list query: results, or an error status with its description.
    struct Answer
    {
        int status = 200;
        QString description, detailedDescription;
        QJsonArray results;
    };

    SampleCatalog(quint64 seed, qint64 nowSeconds);

    quint64 seed() const { return m_seed; }
    qint64 generatedAt() const { return m_now; }
    const QList<Station>& stations() const { return m_stations; }
    const QList<Producer>& producers() const { return m_producers; }
    const QList<Program>& programs() const { return m_programs; }
    const QList<Video>& videos() const { return m_videos; }
    const QList<Group>& groups() const { return m_groups; }

    // resource: "programs", "videos" or "groups"; base: "http://host:port" for absolute URLs.
    Answer list(const QString& resource, const QList<QueryItem>& query, const QString& base) const;
    // One object by id, with the same "fields" rules; nullopt when there is none.
    std::optional<QJsonObject> detail(const QString& resource, int id, const QList<QueryItem>& query,
                                      const QString& base) const;

    // What an image path shows: kind "programs" or "videos", the record's id.
    std::optional<ImageLabel> imageLabel(const QString& kind, int id) const;

    static QString gmtText(qint64 secondsSince1970); // "yyyy-MM-dd HH:mm:ss"

private:
    void generate();
    void buildIndexes();
    QJsonObject programJson(const Program& p, bool images, bool producer, const QString& base) const;
    QJsonObject videoJson(const Video& v, const QSet<QString>& fields, const QString& prefix,
                          const QString& base) const;
    QJsonObject producerJson(const Producer& p) const;
    // The texts found at a field path ("producer__name"), for filters and ordering.
    void programValues(const Program& p, QStringView path, QStringList* out) const;
    void videoValues(const Video& v, QStringView path, QStringList* out) const;
    void groupValues(const Group& g, QStringView path, QStringList* out) const;

    quint64 m_seed;
    qint64 m_now;
    QList<Station> m_stations;
    QList<Producer> m_producers;
    QList<Program> m_programs;
    QList<Video> m_videos;
    QList<Group> m_groups;

    QHash<int, int> m_programById, m_videoById, m_groupById;
};

} // namespace zrp::sandbox
