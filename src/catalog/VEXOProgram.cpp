#include "catalog/VEXOProgram.h"

#include "catalog/VEXOFields.h"

#include <QHashFunctions>

using namespace VEXOFields;

VEXOProgram VEXOProgram::programWithDictionary(const QJsonObject& dictionary)
{
    return programWithDictionary(QCborMap::fromJsonObject(dictionary));
}

VEXOProgram VEXOProgram::programWithDictionary(const QCborMap& d)
{
    VEXOProgram p;
    p.m_programDictionary = d;
    p.m_title = sanitizedText(d.value(QLatin1String("title")));
    p.m_shortDescription = sanitizedText(d.value(QLatin1String("short_description")));
    p.m_longDescription = sanitizedText(d.value(QLatin1String("long_description")));
    p.m_nolaRoot = text(d.value(QLatin1String("nola_root")));
    p.m_resourceURI = programURIFromDictionary(d);
    if (p.m_resourceURI) {
        // "/vexo/v1/programs/123/" splits into exactly six pieces, the id being the fifth.
        const QStringList pieces = p.m_resourceURI->split(QLatin1Char('/'));
        if (pieces.size() == 6)
            p.m_programId = pieces.at(4);
    }
    p.m_website = text(d.value(QLatin1String("website")));

    const ImageChoice images = chooseImages(d.value(QLatin1String("associated_images")), true);
    p.m_imageURL = images.imageURL.value_or(QString());
    p.m_thumbnailURL = images.thumbnailURL.value_or(QString());

    const std::optional<QString> shop = text(d.value(QLatin1String("shop_url")));
    if (shop && !shop->isEmpty())
        p.m_buyLinks.insert(kShopTitle, *shop);

    p.m_localProgram = isLocalProducer(d.value(QLatin1String("producer")));
    return p;
}

std::optional<QString> VEXOProgram::programURIFromDictionary(const QCborMap& dictionary)
{
    return text(dictionary.value(QLatin1String("resource_uri")));
}

bool VEXOProgram::operator==(const VEXOProgram& other) const
{
    return m_resourceURI.has_value() && other.m_resourceURI.has_value() &&
           *m_resourceURI == *other.m_resourceURI;
}

int VEXOProgram::compare(const VEXOProgram& other) const
{
    return m_title.compare(other.m_title, Qt::CaseSensitive);
}

size_t qHash(const VEXOProgram& program, size_t seed) noexcept
{
    return qHash(program.resourceURI(), seed);
}
