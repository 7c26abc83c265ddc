#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <mutex>
#include <optional>

namespace zrp::sandbox {

// The published "ipad-conf.plist": plain "key=value" lines ending in CR LF (not a property list,
// whatever its name says). Tests change it through POST /_sandbox/config.
class RemoteConfigFile
{
public:
    RemoteConfigFile();

    QByteArray body() const;
    QJsonObject toJson() const;

    // {"minimum_version": "2.0", "background_refresh_time": 7200}: sets (or, with null, removes)
    // keys, keeping the file's line order; {"raw": "..."} publishes that text exactly as given.
    bool apply(const QJsonObject& changes, QString* error);
    void reset();

private:
    mutable std::mutex m_mutex;
    QList<QPair<QString, QString>> m_lines;
    std::optional<QByteArray> m_raw;
};

} // namespace zrp::sandbox
