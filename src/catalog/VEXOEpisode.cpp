#include "catalog/VEXOEpisode.h"

#include "catalog/VEXOClientAPI.h"
#include "catalog/VEXOFields.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "core/Device.h"

#include <QCborArray>
#include <cmath>
#include <limits>

using namespace VEXOFields;

namespace {

int clampToInt(qint64 v)
{
    return int(std::clamp<qint64>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

struct Rendition
{
    QString name;
    std::optional<QString> url;
    qint64 lengthMs = 0;
};

// The stream the player gets. On a tablet: "iPad-16x9" at once; else "iPad-4x3", then
// "iPhone-16x9", then the first file; among files of one rank the later one wins. A phone swaps
// the two 16x9 ranks.
std::optional<Rendition> chooseRendition(const QCborValue& mediafiles, bool tablet)
{
    const QString first = tablet ? QStringLiteral("iPad-16x9") : QStringLiteral("iPhone-16x9");
    const QString third = tablet ? QStringLiteral("iPhone-16x9") : QStringLiteral("iPad-16x9");
    const QString second = QStringLiteral("iPad-4x3");
    if (!mediafiles.isArray())
        return std::nullopt;
    std::optional<Rendition> taken;
    for (const QCborValue& file : mediafiles.toArray()) {
        if (!file.isMap())
            continue;
        const QCborMap f = file.toMap();
        const QCborValue encoding = f.value(QLatin1String("video_encoding"));
        if (!encoding.isMap())
            continue;
        const QCborMap enc = encoding.toMap();
        if (text(enc.value(QLatin1String("mime_type"))) != VEXOEpisode::kHLSMimeType)
            continue;
        Rendition r;
        r.name = sanitizedText(enc.value(QLatin1String("name")));
        r.url = text(f.value(QLatin1String("video_data_url")));
        r.lengthMs = integer(f.value(QLatin1String("length_mseconds"))).value_or(0);
        if (r.name == first) {
            taken = r;
            break;
        }
        if (!taken || r.name == second || (r.name == third && taken->name != second))
            taken = r;
    }
    return taken;
}

} // namespace

std::optional<VEXOEpisode> VEXOEpisode::episodeWithDictionary(const QJsonObject& dictionary)
{
    return episodeWithDictionary(QCborMap::fromJsonObject(dictionary));
}

std::optional<VEXOEpisode> VEXOEpisode::episodeWithDictionary(const QCborMap& d)
{
    if (text(d.value(QLatin1String("availability"))) == QStringLiteral("Expired"))
        return std::nullopt;

    VEXOEpisode e;
    e.m_episodeDictionary = d;
    e.m_title = text(d.value(QLatin1String("title")));
    e.m_shortDescription = sanitizedText(d.value(QLatin1String("short_description")));
    e.m_longDescription = sanitizedText(d.value(QLatin1String("long_description")));
    e.m_resourceURI = episodeURIFromDictionary(d);
    e.m_mediaID = sanitizedText(d.value(QLatin1String("tp_media_object_id")));
    e.m_nolaEpisode =
        QString::number(clampToInt(integer(d.value(QLatin1String("nola_episode"))).value_or(0)));
    e.m_nolaRoot = text(d.value(QLatin1String("nola_root")));
    e.m_videoType = text(d.value(QLatin1String("type"))).value_or(QStringLiteral("Clip"));
    e.m_gatedContent = clampToInt(integer(d.value(QLatin1String("gated_content"))).value_or(0));
    e.m_airdate = catalogDate(d.value(QLatin1String("airdate")));
    e.m_expires = catalogDate(d.value(QLatin1String("expire_datetime")));

    const std::optional<QString> itunes = text(d.value(QLatin1String("itunes_link")));
    if (itunes && !itunes->isEmpty())
        e.m_buyLinks.insert(kITunesTitle, *itunes);
    const std::optional<QString> dvd = text(d.value(QLatin1String("buy_dvd_link")));
    if (dvd && !dvd->isEmpty())
        e.m_buyLinks.insert(kDVDTitle, *dvd);

    const ImageChoice images = chooseImages(d.value(QLatin1String("associated_images")), false);
    e.m_imageURL = images.imageURL;
    e.m_thumbnailURL = images.thumbnailURL;

    const QCborValue segment = d.value(QLatin1String("is_segment"));
    e.m_isSegment = segment.isBool() ? segment.toBool() : integer(segment).value_or(0) != 0;

    const bool tablet = VEXOClientAPI::getUserInterfaceIdiom() != 0;
    const std::optional<Rendition> rendition = chooseRendition(d.value(QLatin1String("mediafiles")), tablet);
    if (rendition) {
        e.m_videoDataURL = rendition->url;
        e.m_duration = clampToInt(rendition->lengthMs / 1000);
    }
    const bool playable = e.m_videoDataURL && !e.m_videoDataURL->isEmpty();
    if (!e.m_isSegment && !playable)
        return std::nullopt;
    if (!playable) {
        // A segment may come without a stream; an empty address is no address.
        e.m_videoDataURL.reset();
    } else {
        const QString device = tablet ? QStringLiteral("iPad") : QStringLiteral("iPhone");
        e.m_videoDataURL =
            QStringLiteral("%1&player=%2-%3").arg(*e.m_videoDataURL, device, zrp::Bundle::version());
    }

    if (!e.m_isSegment) {
        // A "program" that is not an object leaves the video without one rather than with an
        // empty program.
        const QCborValue program = d.value(QLatin1String("program"));
        if (program.isMap())
            e.m_program = VEXOProgram::programWithDictionary(program.toMap());
    }
    if (e.m_program && isLocalProducer(d.value(QLatin1String("producer"))))
        e.m_program->setLocalProgram(true);

    if (const std::optional<qint64> seek = integer(d.value(QLatin1String("seek_time"))))
        e.m_seekTime = clampToInt(*seek);
    e.m_lastWatched = storedDate(d.value(QLatin1String("last_watched")));
    return e;
}

std::optional<QString> VEXOEpisode::episodeURIFromDictionary(const QCborMap& dictionary)
{
    return text(dictionary.value(QLatin1String("resource_uri")));
}

void VEXOEpisode::addSeekTimeToDictionary(int seconds, QCborMap& dictionary)
{
    dictionary.insert(QLatin1String("seek_time"), seconds);
    dictionary.insert(QLatin1String("last_watched"), QCborValue(zrp::Clock::shared()->now().toUTC()));
}

int VEXOEpisode::compareProgramTitle(const VEXOEpisode& other) const
{
    const QString mine = m_program ? m_program->title() : QString();
    const QString theirs = other.m_program ? other.m_program->title() : QString();
    return mine.compare(theirs, Qt::CaseInsensitive);
}

int VEXOEpisode::compareAirdateDesc(const VEXOEpisode& other) const
{
    if (!m_airdate || !other.m_airdate) {
        if (m_airdate.has_value() == other.m_airdate.has_value())
            return 0;
        return m_airdate ? -1 : 1;
    }
    if (*m_airdate == *other.m_airdate)
        return 0;
    return *m_airdate > *other.m_airdate ? -1 : 1;
}

bool VEXOEpisode::expiresInNumberOfDays(int days) const
{
    if (!m_expires)
        return false;
    const double secondsLeft = double(zrp::Clock::shared()->now().msecsTo(*m_expires)) / 1000.0;
    // A window of no days only asks whether the video has expired already.
    if (days <= 0)
        return secondsLeft <= 0;
    const double q = secondsLeft / (double(days) * 86400.0);
    return std::round(q) <= 1.0;
}

QString VEXOEpisode::episodeLink() const
{
    QString base = zrp::Config::shared().value(QStringLiteral("video_site.base_url"));
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + QStringLiteral("video/") + m_mediaID;
}
