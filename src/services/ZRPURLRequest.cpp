#include "ZRPURLRequest.h"

namespace zrp {

void ZRPURLRequest::setValueForHTTPHeaderField(const QByteArray& value, const QByteArray& field)
{
    for (auto& h : headers) {
        if (h.first.compare(field, Qt::CaseInsensitive) == 0) {
            h.second = value;
            return;
        }
    }
    headers.append({field, value});
}

QByteArray ZRPURLRequest::valueForHTTPHeaderField(const QByteArray& field) const
{
    for (const auto& h : headers) {
        if (h.first.compare(field, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return QByteArray();
}

} // namespace zrp
