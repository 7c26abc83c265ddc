#include "Error.h"

namespace zrp {

QString Error::message() const
{
    const QVariant m = userInfo.value(QStringLiteral("message"));
    if (m.isValid())
        return m.toString();
    return userInfo.value(QStringLiteral("description")).toString();
}

QString Error::description() const
{
    if (isNull())
        return QString();
    const QString m = message();
    return m.isEmpty() ? QStringLiteral("%1 (%2)").arg(domain).arg(code)
                       : QStringLiteral("%1 (%2): %3").arg(domain).arg(code).arg(m);
}

} // namespace zrp
