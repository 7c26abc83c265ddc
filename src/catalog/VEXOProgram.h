#pragma once

#include <QCborMap>
#include <QJsonObject>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <optional>

// A program (a series or show) of the catalog. It keeps the object it was built from: that
// object, archived, is also how a favorite program is persisted, and reading it back runs the
// same parse.
class VEXOProgram
{
public:
    VEXOProgram() = default;

    // Never fails: missing or mistyped fields read as empty or none.
    static VEXOProgram programWithDictionary(const QCborMap& dictionary);
    static VEXOProgram programWithDictionary(const QJsonObject& dictionary);
    // The "resource_uri" of a stored object; none when it is missing or not a text.
    static std::optional<QString> programURIFromDictionary(const QCborMap& dictionary);

    const QCborMap& programDictionary() const { return m_programDictionary; }
    const QString& title() const { return m_title; }
    const QString& shortDescription() const { return m_shortDescription; }
    const QString& longDescription() const { return m_longDescription; }
    const std::optional<QString>& nolaRoot() const { return m_nolaRoot; }
    // Empty when the object has none; such a program is never equal to another one.
    QString resourceURI() const { return m_resourceURI.value_or(QString()); }
    bool hasResourceURI() const { return m_resourceURI.has_value(); }
    const std::optional<QString>& programId() const { return m_programId; }
    const std::optional<QString>& website() const { return m_website; }
    const QString& imageURL() const { return m_imageURL; }
    const QString& thumbnailURL() const { return m_thumbnailURL; }
    const QMap<QString, QString>& buyLinks() const { return m_buyLinks; }
    bool isLocalProgram() const { return m_localProgram; }
    bool localProgram() const { return m_localProgram; }
    void setLocalProgram(bool local) { m_localProgram = local; }

    // Identity is the resource URI.
    bool operator==(const VEXOProgram& other) const;
    bool operator!=(const VEXOProgram& other) const { return !(*this == other); }
    // By title, case-sensitive: <0, 0, >0.
    int compare(const VEXOProgram& other) const;

    static inline const QString kShopTitle = QStringLiteral("Visit the program shop");
    // The network's own producer; every other producer is a local station.
    static inline const QString kNetworkProducer = QStringLiteral("ZRP");

private:
    QCborMap m_programDictionary;
    QString m_title;
    QString m_shortDescription;
    QString m_longDescription;
    std::optional<QString> m_nolaRoot;
    std::optional<QString> m_resourceURI;
    std::optional<QString> m_programId;
    std::optional<QString> m_website;
    QString m_imageURL;
    QString m_thumbnailURL;
    QMap<QString, QString> m_buyLinks;
    bool m_localProgram = false;
};

size_t qHash(const VEXOProgram& program, size_t seed = 0) noexcept;

Q_DECLARE_METATYPE(VEXOProgram)
