#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace zrp {

// Map access with defaults, used by every parse in the player: a value that is absent, JSON
// null or an empty text reads as the default.
namespace ZRPPlayerDictionary {
QVariant valueForKey(const QVariantMap& map, const QString& key, const QVariant& defaultValue = QVariant());
// "a.b.c": each step must be a map.
QVariant valueForKeyPath(const QVariantMap& map, const QString& keyPath,
                         const QVariant& defaultValue = QVariant());
bool isAbsent(const QVariant& v);
} // namespace ZRPPlayerDictionary

namespace ZRPPlayerDateStringConversions {
// Parses with a pattern in GMT; null text or text that does not match gives an invalid date.
QDateTime gmtDateFromString(const QString& text, const QString& format);
} // namespace ZRPPlayerDateStringConversions

} // namespace zrp
