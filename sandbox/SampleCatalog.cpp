#include "SampleCatalog.h"

#include <QColor>
#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>

namespace zrp::sandbox {

namespace {

constexpr qint64 kDay = 86400;

// splitmix64: small, fast and the same on every platform, so a seed always gives the same catalog.
class Random
{
public:
    explicit Random(quint64 seed) : m_state(seed ^ 0x5A5A5A5A12345678ull) {}
    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return n <= 0 ? 0 : int(next() % quint64(n)); }
    int range(int lo, int hi) { return lo + below(hi - lo + 1); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T> const T& pick(const QList<T>& list) { return list.at(below(int(list.size()))); }

private:
    quint64 m_state;
};

QStringList words(const char* text)
{
    return QString::fromLatin1(text).split(QLatin1Char('|'));
}

const QStringList& adjectives()
{
    static const QStringList w =
        words("Hidden|Quiet|Golden|Wandering|Northern|Painted|Silver|Midnight|Open|Wild|"
              "Distant|Copper|Rolling|Bright|Ancient|Secret|Salt|Amber|Iron|Hollow|"
              "Restless|Lantern|Crooked|Whistling|Patient");
    return w;
}

const QStringList& nouns()
{
    static const QStringList w =
        words("Harbors|Kitchens|Skies|Rivers|Workshop|Frontier|Lanterns|Gardens|Roads|"
              "Orchards|Notebook|Horizons|Machines|Canyons|Voices|Tides|Archive|Cities|"
              "Trails|Fields|Bridges|Lighthouses|Meadows|Almanac|Crossings");
    return w;
}

const QStringList& places()
{
    static const QStringList w =
        words("Marrow Bay|Eastmoor|Halden Ridge|Quillan Falls|Port Avery|Linden Hollow|"
              "Caskell Point|Verrin Lake|Ostley|Brackwater|Tamsin Flats|Corvale|"
              "Fennick Downs|Harrowgate Pass|Wyeburn|Selwick Shoals|Pellam Mesa|Dunmire");
    return w;
}

const QStringList& firstNames()
{
    static const QStringList w = words(
        "Della|Ansel|Marguerite|Tobin|Ilse|Corwin|Philippa|Ruben|Odette|Lysander|Wren|Bastien|Noor|Elspeth");
    return w;
}

const QStringList& lastNames()
{
    static const QStringList w = words("Marsh|Quillfeather|Okonkwo-Hale|Brandvold|Castellane|Dunmore|"
                                       "Ashgrove|Pettibone|Varga|Lindqvist|Ferrand");
    return w;
}

const QStringList& topics()
{
    static const QStringList w =
        words("Cooking|Gardening|Painting|Travels|Woodworking|Sketches|Journeys|Conversations");
    return w;
}

const QStringList& episodeNouns()
{
    static const QStringList w =
        words("Salt Road|Long Winter|Last Ferry|Old Mill|River Crossing|Night Market|"
              "Glass Makers|Clockmakers|Stone Wall|Bell Tower|Tide Pools|Fire Lookout|"
              "Seed Bank|Signal Station|Paper Boats|Spice Route|Slow Harvest|Map Room");
    return w;
}

QString slugOf(const QString& title)
{
    static const QRegularExpression separators(QStringLiteral("[^a-z0-9]+"));
    QString s = title.toLower();
    s.replace(separators, QStringLiteral("-"));
    while (s.startsWith(QLatin1Char('-')))
        s.remove(0, 1);
    while (s.endsWith(QLatin1Char('-')))
        s.chop(1);
    return s;
}

const QStringList kUsages = {QStringLiteral("iPad-Large"), QStringLiteral("iPad-Small"),
                             QStringLiteral("iPhone-Medium"), QStringLiteral("iPhone-Small")};

const QString kHls = QStringLiteral("application/x-mpegURL");

QString gatedName(int level)
{
    switch (level) {
    case 0:
        return QStringLiteral("Not Gated");
    case 1:
        return QStringLiteral("Registration Required");
    default:
        return QStringLiteral("Members Only");
    }
}

QString resourceUri(const char* kind, int id)
{
    return QStringLiteral("/vexo/v1/%1/%2/").arg(QLatin1String(kind)).arg(id);
}

} // namespace

QString SampleCatalog::gmtText(qint64 secondsSince1970)
{
    return QDateTime::fromSecsSinceEpoch(secondsSince1970, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

SampleCatalog::SampleCatalog(quint64 seed, qint64 nowSeconds) : m_seed(seed), m_now(nowSeconds)
{
    generate();
    buildIndexes();
}

void SampleCatalog::generate()
{
    Random rng(m_seed);

    // Stations: three local ones (their own programs, and later their schedules), then the other
    // producers of the catalog.
    const char* local[][2] = {{"KZRA", "Ashcombe Public Television"},
                              {"WZRB", "Brennan Valley Public Media"},
                              {"KZRC", "Carrow Sound Television"}};
    const char* others[][2] = {
        {"KZRD", "Dellwood Educational Broadcasting"}, {"WZRE", "Eastmoor Public Media"},
        {"KZRF", "Fennick Downs Community TV"},        {"WZRG", "Greywater Public Television"},
        {"KZRH", "Halden Ridge Broadcasting"},         {"WZRJ", "Juniper Coast Public TV"},
        {"KZRK", "Kestrel Plains Television"}};
    for (const auto& s : local)
        m_stations.append({QLatin1String(s[0]), QLatin1String(s[1]), true});
    for (const auto& s : others)
        m_stations.append({QLatin1String(s[0]), QLatin1String(s[1]), false});

    m_producers.append({1, QLatin1String(kNetworkProducer), 71001});
    for (int i = 0; i < m_stations.size(); ++i) {
        const int liverail = rng.chance(50) ? 72000 + i * 17 + rng.below(10) : 0;
        m_producers.append({i + 2, m_stations.at(i).callsign, liverail});
    }

    // 30 network programs, 4 of each local station, 38 from the other stations, in shuffled order.
    QList<int> producerOfProgram;
    for (int i = 0; i < 30; ++i)
        producerOfProgram << 0;
    for (int s = 0; s < 3; ++s)
        for (int i = 0; i < 4; ++i)
            producerOfProgram << 1 + s;
    for (int i = 0; i < 38; ++i)
        producerOfProgram << 4 + (i % 7);
    for (int i = int(producerOfProgram.size()) - 1; i > 0; --i)
        std::swap(producerOfProgram[i], producerOfProgram[rng.below(i + 1)]);

    QSet<QString> titles, nolaRoots;
    for (int i = 0; i < producerOfProgram.size(); ++i) {
        Program p;
        p.id = 1001 + i;
        p.producer = producerOfProgram.at(i);
        do {
            if (rng.chance(20)) {
                p.title = QStringLiteral("%1 with %2 %3")
                              .arg(rng.pick(topics()), rng.pick(firstNames()), rng.pick(lastNames()));
            } else {
                p.title = rng.pick(adjectives()) + QLatin1Char(' ') + rng.pick(nouns());
            }
        } while (titles.contains(p.title));
        titles.insert(p.title);
        p.slug = slugOf(p.title);
        do {
            p.nolaRoot.clear();
            for (int k = 0; k < 4; ++k)
                p.nolaRoot += QLatin1Char(char('A' + rng.below(26)));
        } while (nolaRoots.contains(p.nolaRoot));
        nolaRoots.insert(p.nolaRoot);
        const QString place = rng.pick(places());
        p.shortDescription = QStringLiteral("%1 from %2.").arg(p.title, place);
        p.longDescription = QStringLiteral("%1 follows the people of %2 through a year of work and weather. "
                                           "Each program visits a new corner of the region.")
                                .arg(p.title, place);
        const int web = rng.below(100);
        p.website = web < 12 ? QString() : QStringLiteral("https://www.zrp.example/%1/").arg(p.slug);
        if (web >= 12 && web < 17)
            p.website.reset();
        if (rng.chance(30))
            p.shopUrl = QStringLiteral("https://shop.zrp.example/programs/%1").arg(p.slug);

        // Images: mostly the four usage types; some programs lack the large one, a few have
        // only the smallest, a few carry a stray ";" that the client removes, one lists its large
        // image twice (the later entry wins) and two answer text/html for a thumbnail.
        const QString dir = QStringLiteral("/images/programs/%1/").arg(p.id);
        const int shape = rng.below(100);
        QStringList usages = kUsages;
        if (shape < 10)
            usages.removeAll(QStringLiteral("iPad-Large"));
        else if (shape < 15)
            usages = {QStringLiteral("iPhone-Small")};
        for (const QString& u : usages)
            p.images.append({u, dir + u + QStringLiteral(".png")});
        if (i % 23 == 5) {
            for (Image& img : p.images)
                img.path += QLatin1Char(';');
        }
        if (i == 9)
            p.images.append({QStringLiteral("iPad-Large"), dir + QStringLiteral("iPad-Large-alt.png")});
        if (i == 13 || i == 41) {
            for (Image& img : p.images) {
                if (img.usage == QLatin1String("iPhone-Medium"))
                    img.path = QStringLiteral("/images/html/programs/%1/iPhone-Medium.png").arg(p.id);
            }
        }
        m_programs.append(p);
    }

    // Videos.
    int nextVideoId = 20001;
    auto mediaIdFor = [](int videoId) { return qint64(1100000000) + qint64(videoId) * 13; };
    auto imagesFor = [&](int videoId) {
        QList<Image> images;
        const QString dir = QStringLiteral("/images/videos/%1/").arg(videoId);
        const bool onlySmall = rng.chance(4);
        for (const QString& u : kUsages) {
            if (onlySmall && u != QLatin1String("iPhone-Small"))
                continue;
            images.append({u, dir + u + QStringLiteral(".png")});
        }
        if (videoId % 53 == 0) {
            for (Image& img : images) {
                if (img.usage == QLatin1String("iPhone-Medium"))
                    img.path = QStringLiteral("/images/html/videos/%1/iPhone-Medium.png").arg(videoId);
            }
        }
        if (videoId % 61 == 0)
            images.append({QStringLiteral("iPad-Large"), dir + QStringLiteral("iPad-Large-alt.png")});
        return images;
    };
    auto hlsFile = [&](const QString& name, qint64 mediaId, qint64 lengthMs) {
        static const QHash<QString, int> bitrates = {{QStringLiteral("iPad-16x9"), 2500},
                                                     {QStringLiteral("iPad-4x3"), 1800},
                                                     {QStringLiteral("iPhone-16x9"), 1200},
                                                     {QStringLiteral("iPhone-4x3"), 800}};
        return MediaFile{name, kHls,
                         QStringLiteral("/media/redirect/%1/%2/?format=hls").arg(mediaId).arg(name), lengthMs,
                         bitrates.value(name)};
    };
    auto otherFile = [&](const QString& name, const QString& mime, const QString& ext, qint64 mediaId,
                         qint64 lengthMs, int bitrate) {
        return MediaFile{name, mime,
                         QStringLiteral("/media/download/%1/%2.%3").arg(mediaId).arg(slugOf(name), ext),
                         lengthMs, bitrate};
    };
    auto filesFor = [&](qint64 mediaId, qint64 lengthMs) {
        QList<MediaFile> files;
        const int r = rng.below(100);
        QStringList hls;
        if (r < 40)
            hls = {QStringLiteral("iPhone-4x3"), QStringLiteral("iPhone-16x9"), QStringLiteral("iPad-4x3"),
                   QStringLiteral("iPad-16x9")};
        else if (r < 60)
            hls = {QStringLiteral("iPhone-16x9"), QStringLiteral("iPad-4x3"), QStringLiteral("iPhone-16x9")};
        else if (r < 75)
            hls = {QStringLiteral("iPhone-4x3"), QStringLiteral("iPad-4x3"), QStringLiteral("iPad-16x9")};
        else if (r < 92)
            hls = {QStringLiteral("iPhone-16x9"), QStringLiteral("iPhone-4x3")};
        else if (r < 96)
            hls = {QStringLiteral("iPad-4x3")};
        if (r < 60 || r >= 96)
            files.append(otherFile(QStringLiteral("MP4 1500k"), QStringLiteral("video/mp4"),
                                   QStringLiteral("mp4"), mediaId, lengthMs, 1500));
        for (const QString& name : hls)
            files.append(hlsFile(name, mediaId, lengthMs));
        if (r >= 40 && r < 60)
            files.append(otherFile(QStringLiteral("Flash 700k"), QStringLiteral("video/x-flv"),
                                   QStringLiteral("flv"), mediaId, lengthMs, 700));
        return files;
    };
    auto expiryFor = [&](qint64 airdate) -> qint64 {
        const int r = rng.below(100);
        if (r < 4)
            return m_now + rng.range(2 * 3600, 22 * 3600); // within a day
        if (r < 8)
            return m_now + rng.range(int(1.2 * kDay), int(2.9 * kDay));
        if (r < 12)
            return m_now + rng.range(int(3.2 * kDay), int(4.9 * kDay));
        if (r < 16)
            return m_now + rng.range(int(5.2 * kDay), int(8.9 * kDay));
        if (r < 22)
            return m_now - rng.range(int(0.5 * kDay), 60 * int(kDay)); // already expired
        if (r < 32)
            return -1;
        return std::max(airdate + 400 * kDay, m_now + rng.range(20, 400) * kDay);
    };

    for (int pi = 0; pi < m_programs.size(); ++pi) {
        const Program& program = m_programs.at(pi);
        const bool network = program.producer == 0;
        const bool localStation = !network && m_stations.at(program.producer - 1).local;
        const int target = network ? rng.range(14, 34) : localStation ? rng.range(8, 22) : rng.range(8, 24);
        const int season = rng.range(1, 9);
        const qint64 latest = m_now - rng.range(1, 25) * kDay - rng.range(0, 20) * 3600;
        int episodeNo = 0;
        int made = 0;
        while (made < target) {
            Video v;
            v.id = nextVideoId++;
            v.program = pi;
            v.mediaId = mediaIdFor(v.id);
            const int t = rng.below(85);
            v.type = t < 35   ? QStringLiteral("Episode")
                     : t < 65 ? QStringLiteral("Clip")
                     : t < 73 ? QStringLiteral("Promotion")
                     : t < 75 ? QStringLiteral("Promo")
                     : t < 78 ? QStringLiteral("Preview")
                     : t < 82 ? QStringLiteral("Other")
                              : QStringLiteral("Extra");
            qint64 lengthMs = 0;
            const QString place = rng.pick(places());
            if (v.type == QLatin1String("Episode")) {
                ++episodeNo;
                v.airdate = latest - (episodeNo - 1) * 7 * kDay - rng.range(0, 3600);
                v.nolaEpisode = QStringLiteral("%1%2").arg(season).arg(episodeNo, 2, 10, QLatin1Char('0'));
                v.title = rng.chance(50) ? QStringLiteral("The %1").arg(rng.pick(episodeNouns()))
                                         : QStringLiteral("%1 in %2")
                                               .arg(place, rng.chance(50) ? QStringLiteral("Winter")
                                                                          : QStringLiteral("Spring"));
                lengthMs = qint64(rng.range(26, 58)) * 60000 + rng.range(0, 59999);
                v.gated = rng.chance(8) ? 1 : 0;
                if (rng.chance(20))
                    v.itunesLink = QStringLiteral("https://itunes.store.example/video/id%1").arg(v.mediaId);
                if (rng.chance(15))
                    v.buyDvdLink =
                        QStringLiteral("https://shop.zrp.example/dvd/%1-%2").arg(program.slug, v.nolaEpisode);
            } else {
                v.airdate = m_now - rng.range(0, 700) * kDay - rng.range(0, 86399);
                if (v.type.startsWith(QLatin1String("Promo")) || v.type == QLatin1String("Preview")) {
                    v.title = QStringLiteral("Coming Up on %1").arg(program.title);
                    lengthMs = rng.range(20000, 90000);
                } else {
                    v.title = QStringLiteral("A Closer Look: %1").arg(rng.pick(episodeNouns()));
                    lengthMs = rng.range(60000, 8 * 60000);
                }
            }
            v.shortDescription = QStringLiteral("%1 visits %2.").arg(program.title, place);
            v.longDescription =
                QStringLiteral("In this %1 from %2, the crew travels to %3. Filmed on location.")
                    .arg(v.type.toLower(), program.title, place);
            v.expires = expiryFor(v.airdate);
            v.files = filesFor(v.mediaId, lengthMs);
            v.images = imagesFor(v.id);
            m_videos.append(v);
            ++made;

            // Long episodes are also cut into segments, which carry where they start.
            if (v.type == QLatin1String("Episode") && lengthMs >= 50 * 60000 && rng.chance(60) &&
                made < target) {
                const Video parent = v;
                const int count = std::min(rng.range(2, 4), target - made);
                for (int k = 1; k <= count; ++k) {
                    Video s;
                    s.id = nextVideoId++;
                    s.program = pi;
                    s.mediaId = mediaIdFor(s.id);
                    s.type = QStringLiteral("Segment");
                    s.segment = true;
                    s.parentId = parent.id;
                    s.segmentStartMs = lengthMs * k / (count + 1) + rng.range(1, 999);
                    s.title = QStringLiteral("%1, Part %2").arg(parent.title).arg(k);
                    s.shortDescription = parent.shortDescription;
                    s.longDescription = parent.longDescription;
                    s.airdate = parent.airdate;
                    s.expires = parent.expires;
                    s.gated = parent.gated;
                    const qint64 segLength = lengthMs / (count + 1);
                    if (rng.chance(60)) {
                        s.files = {hlsFile(QStringLiteral("iPad-16x9"), s.mediaId, segLength),
                                   hlsFile(QStringLiteral("iPhone-16x9"), s.mediaId, segLength)};
                    }
                    s.images = imagesFor(s.id);
                    m_videos.append(s);
                    ++made;
                }
            }
        }
    }

    // The editorial groups.
    auto hasHls = [](const Video& v) {
        return std::any_of(v.files.begin(), v.files.end(),
                           [](const MediaFile& f) { return f.mimeType == kHls; });
    };
    auto eligible = [&](const Video& v) {
        return !v.segment && v.available(m_now) && v.gated == 0 && hasHls(v);
    };
    auto newestFirst = [&](QList<int> list) {
        std::stable_sort(list.begin(), list.end(),
                         [&](int a, int b) { return m_videos.at(a).airdate > m_videos.at(b).airdate; });
        return list;
    };

    // Previews: promotions and clips; one of them is for members only, which the client's
    // gating filter leaves out.
    QList<int> promos, clips;
    for (int i = 0; i < m_videos.size(); ++i) {
        const Video& v = m_videos.at(i);
        if (!eligible(v))
            continue;
        if (v.type.startsWith(QLatin1String("Promo")) || v.type == QLatin1String("Preview"))
            promos << i;
        else if (v.type == QLatin1String("Clip"))
            clips << i;
    }
    Group previews{1, QStringLiteral("ipad_previews"), QStringLiteral("iPad Previews"), {}};
    for (int i : newestFirst(promos).mid(0, 7))
        previews.videos << i;
    for (int k = 0; k < 3 && !clips.isEmpty(); ++k)
        previews.videos << clips.takeAt(rng.below(int(clips.size())));
    if (previews.videos.size() > 2)
        m_videos[previews.videos.at(2)].gated = 2;

    // Spotlight: the newest episode of six network programs, one of them about to expire.
    QList<int> networkEpisodes;
    for (int i = 0; i < m_videos.size(); ++i) {
        const Video& v = m_videos.at(i);
        if (eligible(v) && v.type == QLatin1String("Episode") && m_programs.at(v.program).producer == 0)
            networkEpisodes << i;
    }
    Group spotlight{2, QStringLiteral("ipad_spotlight"), QStringLiteral("iPad Spotlight"), {}};
    QSet<int> seenPrograms;
    for (int i : newestFirst(networkEpisodes)) {
        if (spotlight.videos.size() == 6)
            break;
        if (seenPrograms.contains(m_videos.at(i).program))
            continue;
        seenPrograms.insert(m_videos.at(i).program);
        spotlight.videos << i;
    }
    if (!spotlight.videos.isEmpty())
        m_videos[spotlight.videos.last()].expires = m_now + 3 * kDay + 12 * 3600;

    // Primetime: recent episodes of five programs, several of the same program among them.
    QHash<int, QList<int>> episodesByProgram;
    for (int i = 0; i < m_videos.size(); ++i) {
        const Video& v = m_videos.at(i);
        if (eligible(v) && v.type == QLatin1String("Episode") && !spotlight.videos.contains(i))
            episodesByProgram[v.program] << i;
    }
    QList<int> candidates;
    for (auto it = episodesByProgram.cbegin(); it != episodesByProgram.cend(); ++it) {
        if (it.value().size() >= 3)
            candidates << it.key();
    }
    std::sort(candidates.begin(), candidates.end());
    Group primetime{3, QStringLiteral("ipad_primetime"), QStringLiteral("iPad Primetime"), {}};
    const int perProgram[] = {3, 3, 2, 2, 2};
    for (int k = 0; k < 5 && !candidates.isEmpty(); ++k) {
        const int program = candidates.takeAt(rng.below(int(candidates.size())));
        for (int i : newestFirst(episodesByProgram.value(program)).mid(0, perProgram[k]))
            primetime.videos << i;
    }
    // Interleave so that one program's episodes are not side by side.
    std::stable_sort(primetime.videos.begin(), primetime.videos.end(),
                     [&](int a, int b) { return m_videos.at(a).id % 7 < m_videos.at(b).id % 7; });

    m_groups = {previews, spotlight, primetime};
}

QJsonObject SampleCatalog::producerJson(const Producer& p) const
{
    QJsonObject o{{QStringLiteral("name"), p.name},
                  {QStringLiteral("resource_uri"), resourceUri("producers", p.id)}};
    if (p.liverailId)
        o.insert(QStringLiteral("liverail_id"), p.liverailId);
    return o;
}

static QJsonArray imagesJson(const QList<SampleCatalog::Image>& images, const QString& base)
{
    QJsonArray out;
    for (const SampleCatalog::Image& img : images) {
        out.append(
            QJsonObject{{QStringLiteral("url"), base + img.path},
                        {QStringLiteral("type"), QJsonObject{{QStringLiteral("usage_type"), img.usage}}}});
    }
    return out;
}

QJsonObject SampleCatalog::programJson(const Program& p, bool images, bool producer,
                                       const QString& base) const
{
    QJsonObject o{
        {QStringLiteral("resource_uri"), resourceUri("programs", p.id)},
        {QStringLiteral("title"), p.title},
        {QStringLiteral("slug"), p.slug},
        {QStringLiteral("nola_root"), p.nolaRoot},
        {QStringLiteral("short_description"), p.shortDescription},
        {QStringLiteral("long_description"), p.longDescription},
        {QStringLiteral("website"), p.website ? QJsonValue(*p.website) : QJsonValue()},
        {QStringLiteral("shop_url"), p.shopUrl.isEmpty() ? QJsonValue() : QJsonValue(p.shopUrl)},
    };
    if (images)
        o.insert(QStringLiteral("associated_images"), imagesJson(p.images, base));
    if (producer)
        o.insert(QStringLiteral("producer"), producerJson(m_producers.at(p.producer)));
    return o;
}

QJsonObject SampleCatalog::videoJson(const Video& v, const QSet<QString>& fields, const QString& prefix,
                                     const QString& base) const
{
    const Program& program = m_programs.at(v.program);
    const bool available = v.available(m_now);
    QJsonObject o{
        {QStringLiteral("resource_uri"), resourceUri("videos", v.id)},
        {QStringLiteral("title"), v.title},
        {QStringLiteral("short_description"), v.shortDescription},
        {QStringLiteral("long_description"), v.longDescription},
        {QStringLiteral("type"), v.type},
        {QStringLiteral("tp_media_object_id"), v.mediaId},
        {QStringLiteral("nola_root"), program.nolaRoot},
        {QStringLiteral("nola_episode"), v.nolaEpisode.isEmpty() ? QJsonValue() : QJsonValue(v.nolaEpisode)},
        {QStringLiteral("availability"), available ? QStringLiteral("Available") : QStringLiteral("Expired")},
        {QStringLiteral("availability_status"),
         available ? QStringLiteral("Available") : QStringLiteral("Expired")},
        {QStringLiteral("gated_content"), v.gated},
        {QStringLiteral("airdate"), gmtText(v.airdate)},
        {QStringLiteral("expire_datetime"), v.expires < 0 ? QJsonValue() : QJsonValue(gmtText(v.expires))},
        {QStringLiteral("is_segment"), v.segment},
        {QStringLiteral("episode_url"), QStringLiteral("https://video.zrp.example/video/%1/").arg(v.mediaId)},
    };
    if (!v.itunesLink.isEmpty())
        o.insert(QStringLiteral("itunes_link"), v.itunesLink);
    if (!v.buyDvdLink.isEmpty())
        o.insert(QStringLiteral("buy_dvd_link"), v.buyDvdLink);
    if (v.segment) {
        o.insert(QStringLiteral("segment_parent"), resourceUri("videos", v.parentId));
        o.insert(QStringLiteral("segment_start_time"), v.segmentStartMs);
    }
    o.insert(QStringLiteral("program"),
             programJson(program, fields.contains(prefix + QStringLiteral("program__associated_images")),
                         fields.contains(prefix + QStringLiteral("program__producer")), base));
    if (fields.contains(prefix + QStringLiteral("associated_images")))
        o.insert(QStringLiteral("associated_images"), imagesJson(v.images, base));
    if (fields.contains(prefix + QStringLiteral("producer")))
        o.insert(QStringLiteral("producer"), producerJson(m_producers.at(program.producer)));
    if (fields.contains(prefix + QStringLiteral("mediafiles"))) {
        QJsonArray files;
        for (const MediaFile& f : v.files) {
            files.append(QJsonObject{
                {QStringLiteral("video_encoding"),
                 QJsonObject{{QStringLiteral("name"), f.name}, {QStringLiteral("mime_type"), f.mimeType}}},
                {QStringLiteral("video_data_url"), base + f.path},
                {QStringLiteral("length_mseconds"), f.lengthMs},
                {QStringLiteral("bitrate"), f.bitrate},
            });
        }
        o.insert(QStringLiteral("mediafiles"), files);
    }
    return o;
}

// ---- filtering ----
//
// A filter names a field path ("producer__name", "mediafile_set__video_encoding__mime_type");
// its values are read straight from the records as texts: numbers in decimal, booleans as
// true/false, a relation named by itself as its id ("filter_program=1001"). A path through a
// list matches when any element matches.

namespace {

using Values = QStringList;

QStringList withPrefix(const QString& prefix, const QStringList& paths)
{
    QStringList out;
    for (const QString& p : paths)
        out << (p.isEmpty() ? prefix : prefix + QStringLiteral("__") + p);
    return out;
}

const QStringList& producerPaths()
{
    static const QStringList p = {QString(), QStringLiteral("id"), QStringLiteral("name"),
                                  QStringLiteral("liverail_id"), QStringLiteral("resource_uri")};
    return p;
}

const QStringList& imagePaths()
{
    static const QStringList p = {QStringLiteral("url"), QStringLiteral("type__usage_type")};
    return p;
}

const QStringList& programPathList()
{
    static const QStringList p = QStringList{QStringLiteral("id"),
                                             QStringLiteral("resource_uri"),
                                             QStringLiteral("title"),
                                             QStringLiteral("slug"),
                                             QStringLiteral("nola_root"),
                                             QStringLiteral("short_description"),
                                             QStringLiteral("long_description"),
                                             QStringLiteral("website"),
                                             QStringLiteral("shop_url")} +
                                 withPrefix(QStringLiteral("producer"), producerPaths()) +
                                 withPrefix(QStringLiteral("associated_images"), imagePaths());
    return p;
}

const QStringList& videoPathList()
{
    static const QStringList mediafile = {
        QStringLiteral("video_encoding__name"), QStringLiteral("video_encoding__mime_type"),
        QStringLiteral("video_data_url"), QStringLiteral("length_mseconds"), QStringLiteral("bitrate")};
    static const QStringList p =
        QStringList{QStringLiteral("id"),
                    QStringLiteral("resource_uri"),
                    QStringLiteral("title"),
                    QStringLiteral("short_description"),
                    QStringLiteral("long_description"),
                    QStringLiteral("type"),
                    QStringLiteral("tp_media_object_id"),
                    QStringLiteral("nola_root"),
                    QStringLiteral("nola_episode"),
                    QStringLiteral("availability"),
                    QStringLiteral("availability_status"),
                    QStringLiteral("gated_content"),
                    QStringLiteral("airdate"),
                    QStringLiteral("expire_datetime"),
                    QStringLiteral("is_segment"),
                    QStringLiteral("episode_url"),
                    QStringLiteral("itunes_link"),
                    QStringLiteral("buy_dvd_link"),
                    QStringLiteral("segment_parent"),
                    QStringLiteral("segment_parent__id"),
                    QStringLiteral("segment_parent__resource_uri"),
                    QStringLiteral("segment_start_time")} +
        withPrefix(QStringLiteral("program"), QStringList{QString()} + programPathList()) +
        withPrefix(QStringLiteral("producer"), producerPaths()) +
        withPrefix(QStringLiteral("mediafiles"), mediafile) +
        withPrefix(QStringLiteral("mediafile_set"), mediafile) +
        withPrefix(QStringLiteral("associated_images"), imagePaths());
    return p;
}

const QStringList& groupPathList()
{
    static const QStringList p =
        QStringList{QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("title"),
                    QStringLiteral("resource_uri")} +
        withPrefix(QStringLiteral("videos"), QStringList{QString()} + videoPathList());
    return p;
}

// Splits "a__b__c" into "a" and "b__c".
std::pair<QStringView, QStringView> head(QStringView path)
{
    const qsizetype sep = path.indexOf(QStringLiteral("__"));
    if (sep < 0)
        return {path, QStringView()};
    return {path.left(sep), path.mid(sep + 2)};
}

void addText(Values* out, const QString& text)
{
    out->append(text);
}

void addNumber(Values* out, qint64 n)
{
    out->append(QString::number(n));
}

void addBool(Values* out, bool b)
{
    *out << (b ? QStringList{QStringLiteral("true"), QStringLiteral("True"), QStringLiteral("1")}
               : QStringList{QStringLiteral("false"), QStringLiteral("False"), QStringLiteral("0")});
}

void imageValues(const QList<SampleCatalog::Image>& images, QStringView rest, Values* out)
{
    for (const SampleCatalog::Image& img : images) {
        if (rest == u"url")
            addText(out, img.path);
        else if (rest == u"type__usage_type")
            addText(out, img.usage);
    }
}

void producerValues(const SampleCatalog::Producer& p, QStringView rest, Values* out)
{
    if (rest.isEmpty() || rest == u"id")
        addNumber(out, p.id);
    else if (rest == u"name")
        addText(out, p.name);
    else if (rest == u"liverail_id" && p.liverailId)
        addNumber(out, p.liverailId);
    else if (rest == u"resource_uri")
        addText(out, resourceUri("producers", p.id));
}

} // namespace

void SampleCatalog::programValues(const Program& p, QStringView path, QStringList* out) const
{
    const auto [field, rest] = head(path);
    if (field.isEmpty() || field == u"id")
        addNumber(out, p.id);
    else if (field == u"resource_uri")
        addText(out, resourceUri("programs", p.id));
    else if (field == u"title")
        addText(out, p.title);
    else if (field == u"slug")
        addText(out, p.slug);
    else if (field == u"nola_root")
        addText(out, p.nolaRoot);
    else if (field == u"short_description")
        addText(out, p.shortDescription);
    else if (field == u"long_description")
        addText(out, p.longDescription);
    else if (field == u"website" && p.website)
        addText(out, *p.website);
    else if (field == u"shop_url" && !p.shopUrl.isEmpty())
        addText(out, p.shopUrl);
    else if (field == u"producer")
        producerValues(m_producers.at(p.producer), rest, out);
    else if (field == u"associated_images")
        imageValues(p.images, rest, out);
}

void SampleCatalog::videoValues(const Video& v, QStringView path, QStringList* out) const
{
    const auto [field, rest] = head(path);
    const bool available = v.available(m_now);
    if (field.isEmpty() || field == u"id")
        addNumber(out, v.id);
    else if (field == u"resource_uri")
        addText(out, resourceUri("videos", v.id));
    else if (field == u"title")
        addText(out, v.title);
    else if (field == u"short_description")
        addText(out, v.shortDescription);
    else if (field == u"long_description")
        addText(out, v.longDescription);
    else if (field == u"type")
        addText(out, v.type);
    else if (field == u"tp_media_object_id")
        addNumber(out, v.mediaId);
    else if (field == u"nola_root")
        addText(out, m_programs.at(v.program).nolaRoot);
    else if (field == u"nola_episode" && !v.nolaEpisode.isEmpty())
        addText(out, v.nolaEpisode);
    else if (field == u"availability" || field == u"availability_status")
        addText(out, available ? QStringLiteral("Available") : QStringLiteral("Expired"));
    else if (field == u"gated_content") {
        addNumber(out, v.gated);
        addText(out, gatedName(v.gated)); // the service also takes the level's name
    } else if (field == u"airdate")
        addText(out, gmtText(v.airdate));
    else if (field == u"expire_datetime" && v.expires >= 0)
        addText(out, gmtText(v.expires));
    else if (field == u"is_segment")
        addBool(out, v.segment);
    else if (field == u"episode_url")
        addText(out, QStringLiteral("https://video.zrp.example/video/%1/").arg(v.mediaId));
    else if (field == u"itunes_link" && !v.itunesLink.isEmpty())
        addText(out, v.itunesLink);
    else if (field == u"buy_dvd_link" && !v.buyDvdLink.isEmpty())
        addText(out, v.buyDvdLink);
    else if (field == u"segment_parent" && v.segment) {
        if (rest == u"resource_uri")
            addText(out, resourceUri("videos", v.parentId));
        else
            addNumber(out, v.parentId);
    } else if (field == u"segment_start_time" && v.segment)
        addNumber(out, v.segmentStartMs);
    else if (field == u"program")
        programValues(m_programs.at(v.program), rest, out);
    else if (field == u"producer")
        producerValues(m_producers.at(m_programs.at(v.program).producer), rest, out);
    else if (field == u"associated_images")
        imageValues(v.images, rest, out);
    else if (field == u"mediafiles" || field == u"mediafile_set") {
        for (const MediaFile& f : v.files) {
            if (rest == u"video_encoding__name")
                addText(out, f.name);
            else if (rest == u"video_encoding__mime_type")
                addText(out, f.mimeType);
            else if (rest == u"video_data_url")
                addText(out, f.path);
            else if (rest == u"length_mseconds")
                addNumber(out, f.lengthMs);
            else if (rest == u"bitrate")
                addNumber(out, f.bitrate);
        }
    }
}

void SampleCatalog::groupValues(const Group& g, QStringView path, QStringList* out) const
{
    const auto [field, rest] = head(path);
    if (field.isEmpty() || field == u"id")
        addNumber(out, g.id);
    else if (field == u"name")
        addText(out, g.name);
    else if (field == u"title")
        addText(out, g.title);
    else if (field == u"resource_uri")
        addText(out, resourceUri("groups", g.id));
    else if (field == u"videos") {
        for (int vi : g.videos)
            videoValues(m_videos.at(vi), rest, out);
    }
}

void SampleCatalog::buildIndexes()
{
    for (int i = 0; i < m_programs.size(); ++i)
        m_programById.insert(m_programs.at(i).id, i);
    for (int i = 0; i < m_videos.size(); ++i)
        m_videoById.insert(m_videos.at(i).id, i);
    for (int i = 0; i < m_groups.size(); ++i)
        m_groupById.insert(m_groups.at(i).id, i);
}

namespace {

const QStringList kLookups = {
    QStringLiteral("exact"),       QStringLiteral("iexact"),    QStringLiteral("in"),
    QStringLiteral("contains"),    QStringLiteral("icontains"), QStringLiteral("startswith"),
    QStringLiteral("istartswith"), QStringLiteral("gt"),        QStringLiteral("gte"),
    QStringLiteral("lt"),          QStringLiteral("lte"),       QStringLiteral("isnull")};

struct Filter
{
    bool exclude = false;
    QString path;
    QString lookup;
    QStringList values;
    bool nestedVideos = false; // groups: narrows the group's own list of videos
};

int compareValues(const QString& a, const QString& b)
{
    bool aok = false, bok = false;
    const double x = a.toDouble(&aok), y = b.toDouble(&bok);
    if (aok && bok)
        return x < y ? -1 : x > y ? 1 : 0;
    return a.compare(b);
}

bool lookupMatches(const Values& found, const QString& lookup, const QStringList& wanted)
{
    if (lookup == QLatin1String("isnull")) {
        const QString w = wanted.value(0);
        const bool wantNull =
            w.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || w == QLatin1String("1");
        return found.isEmpty() == wantNull;
    }
    for (const QString& v : found) {
        for (const QString& want : wanted) {
            bool m = false;
            if (lookup == QLatin1String("exact") || lookup == QLatin1String("in"))
                m = v == want;
            else if (lookup == QLatin1String("iexact"))
                m = v.compare(want, Qt::CaseInsensitive) == 0;
            else if (lookup == QLatin1String("contains"))
                m = v.contains(want);
            else if (lookup == QLatin1String("icontains"))
                m = v.contains(want, Qt::CaseInsensitive);
            else if (lookup == QLatin1String("startswith"))
                m = v.startsWith(want);
            else if (lookup == QLatin1String("istartswith"))
                m = v.startsWith(want, Qt::CaseInsensitive);
            else if (lookup == QLatin1String("gt"))
                m = compareValues(v, want) > 0;
            else if (lookup == QLatin1String("gte"))
                m = compareValues(v, want) >= 0;
            else if (lookup == QLatin1String("lt"))
                m = compareValues(v, want) < 0;
            else if (lookup == QLatin1String("lte"))
                m = compareValues(v, want) <= 0;
            if (m)
                return true;
        }
    }
    return false;
}

} // namespace

SampleCatalog::Answer SampleCatalog::list(const QString& resource, const QList<QueryItem>& query,
                                          const QString& base) const
{
    Answer answer;
    auto invalid = [&](const QString& detailed) {
        answer.status = 400;
        answer.description = QStringLiteral("Invalid query.");
        answer.detailedDescription = detailed;
        return answer;
    };
    static const QSet<QString> programPaths(programPathList().begin(), programPathList().end());
    static const QSet<QString> videoPaths(videoPathList().begin(), videoPathList().end());
    static const QSet<QString> groupPaths(groupPathList().begin(), groupPathList().end());
    const bool programs = resource == QLatin1String("programs");
    const bool videos = resource == QLatin1String("videos");
    const bool groups = resource == QLatin1String("groups");
    if (!programs && !videos && !groups) {
        answer.status = 404;
        answer.description = QStringLiteral("Not found.");
        answer.detailedDescription = QStringLiteral("There is no catalog resource \"%1\".").arg(resource);
        return answer;
    }
    const QSet<QString>& paths = programs ? programPaths : videos ? videoPaths : groupPaths;
    const qsizetype count = programs ? m_programs.size() : videos ? m_videos.size() : m_groups.size();
    auto values = [&](int index, const QString& path) {
        QStringList out;
        if (programs)
            programValues(m_programs.at(index), path, &out);
        else if (videos)
            videoValues(m_videos.at(index), path, &out);
        else
            groupValues(m_groups.at(index), path, &out);
        return out;
    };

    QSet<QString> fields;
    QList<Filter> filters;
    QStringList orderBy;
    qint64 limit = -1, offset = 0;
    for (const QueryItem& item : query) {
        const QString& name = item.name;
        if (name == QLatin1String("fields")) {
            for (const QString& f : item.value.split(QLatin1Char(','), Qt::SkipEmptyParts))
                fields.insert(f.trimmed());
            continue;
        }
        if (name == QLatin1String("order_by")) {
            orderBy += item.value.split(QLatin1Char(','), Qt::SkipEmptyParts);
            continue;
        }
        if (name == QLatin1String("limit") || name == QLatin1String("offset")) {
            bool ok = false;
            const qint64 n = item.value.toLongLong(&ok);
            if (!ok || n < 0)
                return invalid(
                    QStringLiteral("\"%1\" must be a whole number, not \"%2\".").arg(name, item.value));
            (name == QLatin1String("limit") ? limit : offset) = n;
            continue;
        }
        const bool isFilter = name.startsWith(QLatin1String("filter_"));
        const bool isExclude = name.startsWith(QLatin1String("exclude_"));
        if (!isFilter && !isExclude)
            continue; // signing parameters and anything else the service does not know
        Filter f;
        f.exclude = isExclude;
        QStringList parts = name.mid(isFilter ? 7 : 8).split(QStringLiteral("__"));
        f.lookup = QStringLiteral("exact");
        if (parts.size() > 1 && kLookups.contains(parts.last()))
            f.lookup = parts.takeLast();
        f.path = parts.join(QStringLiteral("__"));
        if (f.path.isEmpty() || !paths.contains(f.path))
            return invalid(QStringLiteral("Unknown field \"%1\" in \"%2\".").arg(f.path, name));
        if (groups && parts.size() > 1 && parts.first() == QLatin1String("videos")) {
            f.nestedVideos = true;
            f.path = parts.mid(1).join(QStringLiteral("__"));
        }
        f.values =
            f.lookup == QLatin1String("in") ? item.value.split(QLatin1Char(',')) : QStringList{item.value};
        filters.append(f);
    }
    for (const QString& key : orderBy) {
        const QString field = key.startsWith(QLatin1Char('-')) ? key.mid(1) : key;
        if (!paths.contains(field))
            return invalid(QStringLiteral("Cannot order by \"%1\".").arg(key));
    }

    // Matching records; a group's own list of videos is narrowed by the "videos__" filters.
    struct Hit
    {
        int index;
        QList<int> videos;
    };
    QList<Hit> hits;
    for (int i = 0; i < count; ++i) {
        bool keep = true;
        QList<int> groupVideos;
        if (groups)
            groupVideos = m_groups.at(i).videos;
        bool nested = false;
        for (const Filter& f : filters) {
            if (f.nestedVideos) {
                nested = true;
                groupVideos.erase(std::remove_if(groupVideos.begin(), groupVideos.end(),
                                                 [&](int vi) {
                                                     QStringList found;
                                                     videoValues(m_videos.at(vi), f.path, &found);
                                                     return lookupMatches(found, f.lookup, f.values) ==
                                                            f.exclude;
                                                 }),
                                  groupVideos.end());
            } else if (lookupMatches(values(i, f.path), f.lookup, f.values) == f.exclude) {
                keep = false;
                break;
            }
        }
        if (keep && nested && groupVideos.isEmpty())
            keep = false;
        if (keep)
            hits.append({i, groupVideos});
    }

    if (!orderBy.isEmpty()) {
        std::stable_sort(hits.begin(), hits.end(), [&](const Hit& a, const Hit& b) {
            for (const QString& key : orderBy) {
                const bool desc = key.startsWith(QLatin1Char('-'));
                const QString field = desc ? key.mid(1) : key;
                const QStringList ka = values(a.index, field), kb = values(b.index, field);
                if (ka.isEmpty() != kb.isEmpty())
                    return kb.isEmpty(); // records without the value go last either way
                if (ka.isEmpty())
                    continue;
                const int c = compareValues(ka.first(), kb.first());
                if (c != 0)
                    return desc ? c > 0 : c < 0;
            }
            return false;
        });
    }

    const qint64 end = limit < 0 ? hits.size() : std::min<qint64>(hits.size(), offset + limit);
    for (qint64 k = offset; k < end; ++k) {
        const Hit& hit = hits.at(k);
        if (programs) {
            answer.results.append(programJson(m_programs.at(hit.index),
                                              fields.contains(QStringLiteral("associated_images")),
                                              fields.contains(QStringLiteral("producer")), base));
        } else if (videos) {
            answer.results.append(videoJson(m_videos.at(hit.index), fields, QString(), base));
        } else {
            const Group& g = m_groups.at(hit.index);
            QJsonArray list;
            for (int vi : hit.videos)
                list.append(videoJson(m_videos.at(vi), fields, QStringLiteral("videos__"), base));
            answer.results.append(QJsonObject{{QStringLiteral("resource_uri"), resourceUri("groups", g.id)},
                                              {QStringLiteral("name"), g.name},
                                              {QStringLiteral("title"), g.title},
                                              {QStringLiteral("videos"), list}});
        }
    }
    return answer;
}

std::optional<QJsonObject> SampleCatalog::detail(const QString& resource, int id,
                                                 const QList<QueryItem>& query, const QString& base) const
{
    QList<QueryItem> narrowed = query;
    narrowed.append({QByteArray(), QStringLiteral("filter_id"), QString::number(id)});
    const Answer a = list(resource, narrowed, base);
    if (a.status != 200 || a.results.isEmpty())
        return std::nullopt;
    return a.results.first().toObject();
}

std::optional<SampleCatalog::ImageLabel> SampleCatalog::imageLabel(const QString& kind, int id) const
{
    auto colourFor = [](int seed) {
        const int hue = int((quint32(seed) * 2654435761u) % 360u);
        return QColor::fromHsv(hue, 150, 170).rgb();
    };
    if (kind == QLatin1String("programs") && m_programById.contains(id)) {
        const Program& p = m_programs.at(m_programById.value(id));
        return ImageLabel{p.title, m_producers.at(p.producer).name, quint32(colourFor(p.id))};
    }
    if (kind == QLatin1String("videos") && m_videoById.contains(id)) {
        const Video& v = m_videos.at(m_videoById.value(id));
        return ImageLabel{v.title, m_programs.at(v.program).title, quint32(colourFor(v.id))};
    }
    return std::nullopt;
}

} // namespace zrp::sandbox
