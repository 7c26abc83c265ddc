#include "ZRPAPIJSON.h"

#include "core/Text.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace zrp {

static QVariant parse(const QByteArray& data, Error* error)
{
    QString why;
    const QJsonValue v = Json::parseLenient(data, &why);
    if (v.isUndefined()) {
        if (error) {
            *error =
                Error::withMessage(ZRPJSONErrorDomain, 1,
                                   why.isEmpty() ? QStringLiteral("The data is not a JSON object or array")
                                                 : QStringLiteral("The data is not valid JSON: %1").arg(why));
        }
        return QVariant();
    }
    if (error)
        *error = Error();
    return v.toVariant();
}

QVariant ZRPAPIJSON::dictionaryFromJSONData(const QByteArray& data, Error* error)
{
    return parse(data, error);
}

QVariant ZRPAPIJSON::arrayFromJSONData(const QByteArray& data, Error* error)
{
    return parse(data, error);
}

QByteArray ZRPAPIJSON::JSONDataFromDictionary(const QVariantMap& map, Error* error)
{
    const QJsonObject o = QJsonObject::fromVariantMap(map);
    if (error)
        *error = Error();
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace zrp
