#include "ZRPPlayerProgram.h"

#include "ZRPPlayerDataPicker.h"
#include "ZRPPlayerDictionary.h"

#include <QStringList>

namespace zrp {

using namespace ZRPPlayerDictionary;

QString describeProperties(const QList<QPair<QString, QString>>& properties)
{
    QStringList parts;
    for (const auto& [name, value] : properties)
        parts << QStringLiteral("%1 = %2;").arg(name, value.isNull() ? QStringLiteral("(null)") : value);
    return QStringLiteral("{ ") + parts.join(QLatin1Char(' ')) + QStringLiteral(" }");
}

QString ZRPPlayerProgram::idFromResourceURI(const QString& uri)
{
    const QStringList pieces = uri.split(QLatin1Char('/'));
    return pieces.size() == 6 ? pieces[4] : QString();
}

void ZRPPlayerProgram::setResourceURI(const QString& uri)
{
    m_resourceURI = uri;
    m_programId = idFromResourceURI(uri);
}

static QString text(const QVariantMap& d, const char* key)
{
    const QVariant v = valueForKey(d, QString::fromLatin1(key));
    return v.isValid() ? v.toString() : QString();
}

ZRPPlayerProgram ZRPPlayerProgram::programWithDictionary(const QVariantMap& d)
{
    ZRPPlayerProgram p;
    p.title = text(d, "title");
    p.shortDescription = text(d, "short_description");
    p.longDescription = text(d, "long_description");
    p.nolaRoot = text(d, "nola_root");
    p.setResourceURI(text(d, "resource_uri"));
    p.website = text(d, "website");
    p.shopUrl = text(d, "shop_url");
    const QVariantList images = valueForKey(d, QStringLiteral("associated_images")).toList();
    p.imageURL = ZRPPlayerDataPicker::imageURLFromOptions(images);
    p.thumbnailURL = ZRPPlayerDataPicker::thumbnailURLFromOptions(images);
    p.slug = text(d, "slug");
    return p;
}

QString ZRPPlayerProgram::description() const
{
    return describeProperties({{"programId", m_programId},
                               {"title", title},
                               {"shortDescription", shortDescription},
                               {"longDescription", longDescription},
                               {"nolaRoot", nolaRoot},
                               {"resourceURI", m_resourceURI},
                               {"website", website},
                               {"shopUrl", shopUrl},
                               {"imageURL", imageURL},
                               {"thumbnailURL", thumbnailURL},
                               {"slug", slug}});
}

} // namespace zrp
