#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace zrp::sandbox {

struct KeyPair
{
    QString consumerKey;
    QString secretKey;
    QString device; // "tablet" or "phone"
};

// The keys the embedded network accepts. The catalog pairs are the client's compiled defaults,
// written out here again on purpose: the sandbox must not read them from client code.
namespace Credentials {

const QList<KeyPair>& catalog();       // the four "X-ZRPAuth-" headers
const QList<KeyPair>& playerCatalog(); // the query-string signature of the player library
// The application's tracker account and the player library's tablet and phone accounts.
QStringList analyticsAccountIds();

// {"catalog": [...], "player_catalog": [...], "analytics": {...}}: what `--print-credentials`
// prints, so that a person can sign a request by hand.
QJsonObject toJson();

} // namespace Credentials
} // namespace zrp::sandbox
