#pragma once

#include <QMap>
#include <QString>
#include <QUrl>

namespace zrp {

// Diagnostic records for the network's log service: one GET per record, its fields in the query.
class ZRPPlayerQuellmoor
{
public:
    enum Severity
    {
        Information = 0,
        Warning = 1,
        Error = 2,
    };
    using Parameters = QMap<QString, QString>;

    // Builds the URL on the calling thread and sends it on the shared background queue; the
    // answer, or a failure, is ignored.
    static void logSource(const QString& logSource, int severity, const QString& component,
                          const QString& eventType, const QString& message,
                          const Parameters& additionalParameters);
    static QUrl URLWithLogSource(const QString& logSource, int severity, const QString& component,
                                 const QString& eventType, const QString& message,
                                 const Parameters& additionalParameters);
    static QString severityName(int severity);
    // Escapes a query value so that it arrives whole: what may not stand in a URL, and the
    // query's own delimiters.
    static QString escapedValue(const QString& value);
};

} // namespace zrp
