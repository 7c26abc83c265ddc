#pragma once

#include <QString>
#include <QVariantMap>

namespace zrp {

// The player's own record of a catalog program.
class ZRPPlayerProgram
{
public:
    static ZRPPlayerProgram programWithDictionary(const QVariantMap& dictionary);

    QString programId() const { return m_programId; }
    QString title;
    QString shortDescription;
    QString longDescription;
    QString nolaRoot;
    QString resourceURI() const { return m_resourceURI; }
    void setResourceURI(const QString& uri);
    QString website;
    QString shopUrl;
    QString imageURL;
    QString thumbnailURL;
    QString slug;

    QString description() const;

    // The id inside a resource URI of four segments ("/api/v1/programs/42/"): the piece at index
    // 4 when the URI splits at "/" into exactly six pieces; null otherwise.
    static QString idFromResourceURI(const QString& uri);

private:
    QString m_programId;
    QString m_resourceURI;
};

// The text form both records describe themselves with: "{ name = value; ... }", "(null)" for unset.
QString describeProperties(const QList<QPair<QString, QString>>& properties);

} // namespace zrp
