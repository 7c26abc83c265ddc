#include "ZRPPlayerDictionary.h"

#include <QTimeZone>

namespace zrp {

bool ZRPPlayerDictionary::isAbsent(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return true;
    return v.typeId() == QMetaType::QString && v.toString().isEmpty();
}

QVariant ZRPPlayerDictionary::valueForKey(const QVariantMap& map, const QString& key,
                                          const QVariant& defaultValue)
{
    const QVariant v = map.value(key);
    return isAbsent(v) ? defaultValue : v;
}

QVariant ZRPPlayerDictionary::valueForKeyPath(const QVariantMap& map, const QString& keyPath,
                                              const QVariant& defaultValue)
{
    const QStringList steps = keyPath.split(QLatin1Char('.'));
    QVariant current = map;
    for (const QString& step : steps) {
        if (current.typeId() != QMetaType::QVariantMap)
            return defaultValue;
        current = current.toMap().value(step);
    }
    return isAbsent(current) ? defaultValue : current;
}

QDateTime ZRPPlayerDateStringConversions::gmtDateFromString(const QString& text, const QString& format)
{
    if (text.isEmpty())
        return QDateTime();
    QDateTime d = QDateTime::fromString(text, format);
    if (!d.isValid())
        return QDateTime();
    d.setTimeZone(QTimeZone::utc());
    return d;
}

} // namespace zrp
