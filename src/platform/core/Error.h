#pragma once

#include <QString>
#include <QVariantMap>

namespace zrp {

// Failures are values: a domain, a code and free-form details. An Error with an empty
// domain means "no error".
struct Error
{
    QString domain;
    int code = 0;
    QVariantMap userInfo;

    Error() = default;
    Error(QString d, int c, QVariantMap info = {}) : domain(std::move(d)), code(c), userInfo(std::move(info))
    {}

    bool isNull() const { return domain.isEmpty(); }
    explicit operator bool() const { return !isNull(); }

    // "message" is where the body of an HTTP status failure travels; a description is the fallback.
    QString message() const;
    QString description() const;

    bool operator==(const Error& o) const = default;

    static Error withMessage(const QString& domain, int code, const QString& message)
    {
        return Error(domain, code, {{QStringLiteral("message"), message}});
    }
};

} // namespace zrp
