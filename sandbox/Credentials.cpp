#include "Credentials.h"

#include <QJsonArray>

namespace zrp::sandbox::Credentials {

const QList<KeyPair>& catalog()
{
    static const QList<KeyPair> pairs = {
        {QStringLiteral("ZRPIPAD-6B1F0C52-3E4A-4D8B-9F27-1C5E8A0D7B34"),
         QStringLiteral("A9C3E1F7-52B8-4D06-8E4F-3B7D2A6C9E10"), QStringLiteral("tablet")},
        {QStringLiteral("ZRPIPHONE-0E8D4C2A-7B61-4F95-A3D0-5C9E1B7F2A48"),
         QStringLiteral("4F2A8C6E-1D3B-4A97-B5E0-9C7F3D1A8B62"), QStringLiteral("phone")},
    };
    return pairs;
}

// The player library's own pairs: an upper-case tag, a hyphen and a UUID (44 characters for the
// tablet key, 46 for the phone key), each with a lower-case UUID secret.
const QList<KeyPair>& playerCatalog()
{
    static const QList<KeyPair> pairs = {
        {QStringLiteral("ZRPVPAD-4348D2E8-CC98-4569-90F5-EEC5ACC6279C"),
         QStringLiteral("9d915b99-a5a6-446d-818d-4bed536e4e17"), QStringLiteral("tablet")},
        {QStringLiteral("ZRPVPHONE-7D319B26-4755-4646-9F28-5EA5FE277430"),
         QStringLiteral("65abb60a-eee1-4b26-869f-c9aaa5b2b79a"), QStringLiteral("phone")},
    };
    return pairs;
}

QStringList analyticsAccountIds()
{
    return {QStringLiteral("ZA-20481-7"), QStringLiteral("ZP-40960512-1"), QStringLiteral("ZP-40960513-1")};
}

static QJsonArray pairsJson(const QList<KeyPair>& pairs)
{
    QJsonArray out;
    for (const KeyPair& p : pairs) {
        out.append(QJsonObject{{QStringLiteral("consumerKey"), p.consumerKey},
                               {QStringLiteral("secretKey"), p.secretKey},
                               {QStringLiteral("device"), p.device}});
    }
    return out;
}

QJsonObject toJson()
{
    return QJsonObject{
        {QStringLiteral("catalog"), pairsJson(catalog())},
        {QStringLiteral("player_catalog"), pairsJson(playerCatalog())},
        {QStringLiteral("analytics"),
         QJsonObject{{QStringLiteral("account_ids"), QJsonArray::fromStringList(analyticsAccountIds())}}},
    };
}

} // namespace zrp::sandbox::Credentials
