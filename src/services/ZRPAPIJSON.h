#pragma once

#include "core/Error.h"

#include <QByteArray>
#include <QVariant>
#include <QVariantMap>

namespace zrp {

inline const QString ZRPJSONErrorDomain = QStringLiteral("org.zrp.services.json");

// The library's JSON reading and writing. Bodies are decoded leniently (invalid UTF-8 replaced).
// Values come back as QVariant trees: maps, lists, texts, numbers, booleans, and a null
// QVariant (isNull()) for JSON null.
class ZRPAPIJSON
{
public:
    // Both are the same parse; neither checks the type of the top-level value.
    static QVariant dictionaryFromJSONData(const QByteArray& data, Error* error);
    static QVariant arrayFromJSONData(const QByteArray& data, Error* error);
    static QByteArray JSONDataFromDictionary(const QVariantMap& map, Error* error);
};

} // namespace zrp
