#pragma once

#include "catalog/VEXOProgram.h"

#include <QCborMap>
#include <QDateTime>
#include <QJsonObject>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <optional>

// One video of a program: a full episode, a clip, a segment or a preview. It keeps the object it
// was built from; a history entry is that object plus "seek_time" and "last_watched", and it is
// rebuilt by the same parse.
class VEXOEpisode
{
public:
    VEXOEpisode() = default;

    // None for an expired video and for a video (not a segment) without a playable stream.
    static std::optional<VEXOEpisode> episodeWithDictionary(const QCborMap& dictionary);
    static std::optional<VEXOEpisode> episodeWithDictionary(const QJsonObject& dictionary);
    static std::optional<QString> episodeURIFromDictionary(const QCborMap& dictionary);

    // Marks a copy of a video's object as watched: "seek_time" is the position, "last_watched"
    // is now (the shared clock).
    static void addSeekTimeToDictionary(int seconds, QCborMap& dictionary);

    const QCborMap& episodeDictionary() const { return m_episodeDictionary; }
    const std::optional<QString>& title() const { return m_title; }
    const QString& shortDescription() const { return m_shortDescription; }
    const QString& longDescription() const { return m_longDescription; }
    QString resourceURI() const { return m_resourceURI.value_or(QString()); }
    bool hasResourceURI() const { return m_resourceURI.has_value(); }
    // Decimal text of "tp_media_object_id"; "" when missing.
    const QString& mediaID() const { return m_mediaID; }
    const QString& nolaEpisode() const { return m_nolaEpisode; }
    const std::optional<QString>& nolaRoot() const { return m_nolaRoot; }
    const QString& videoType() const { return m_videoType; }
    int gatedContent() const { return m_gatedContent; }
    const std::optional<QDateTime>& airdate() const { return m_airdate; }
    const std::optional<QDateTime>& expires() const { return m_expires; }
    const QMap<QString, QString>& buyLinks() const { return m_buyLinks; }
    const std::optional<QString>& imageURL() const { return m_imageURL; }
    const std::optional<QString>& thumbnailURL() const { return m_thumbnailURL; }
    const std::optional<QString>& videoDataURL() const { return m_videoDataURL; }
    int duration() const { return m_duration; }
    bool isSegment() const { return m_isSegment; }

    const std::optional<VEXOProgram>& program() const { return m_program; }
    void setProgram(std::optional<VEXOProgram> program) { m_program = std::move(program); }

    const std::optional<int>& seekTime() const { return m_seekTime; }
    void setSeekTime(std::optional<int> seconds) { m_seekTime = seconds; }
    const std::optional<QDateTime>& lastWatched() const { return m_lastWatched; }

    // Case-insensitive, by the programs' titles (a missing program counts as an empty title).
    int compareProgramTitle(const VEXOEpisode& other) const;
    // Newest airdate first. A video without an airdate sorts after every dated one, so that the
    // order stays a strict weak ordering (std::sort relies on it).
    int compareAirdateDesc(const VEXOEpisode& other) const;
    // Whether the video expires within about n days (or already has).
    bool expiresInNumberOfDays(int days) const;
    // The address of the video's page on the network's video site.
    QString episodeLink() const;

    static inline const QString kHLSMimeType = QStringLiteral("application/x-mpegURL");
    static inline const QString kITunesTitle = QStringLiteral("Buy this video on iTunes");
    static inline const QString kDVDTitle = QStringLiteral("Buy this video on DVD");

private:
    QCborMap m_episodeDictionary;
    std::optional<QString> m_title;
    QString m_shortDescription;
    QString m_longDescription;
    std::optional<QString> m_resourceURI;
    QString m_mediaID;
    QString m_nolaEpisode;
    std::optional<QString> m_nolaRoot;
    QString m_videoType;
    int m_gatedContent = 0;
    std::optional<QDateTime> m_airdate;
    std::optional<QDateTime> m_expires;
    QMap<QString, QString> m_buyLinks;
    std::optional<QString> m_imageURL;
    std::optional<QString> m_thumbnailURL;
    std::optional<QString> m_videoDataURL;
    int m_duration = 0;
    bool m_isSegment = false;
    std::optional<VEXOProgram> m_program;
    std::optional<int> m_seekTime;
    std::optional<QDateTime> m_lastWatched;
};

Q_DECLARE_METATYPE(VEXOEpisode)
