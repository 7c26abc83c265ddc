#include "RemoteConfigFile.h"

#include <QJsonArray>

namespace zrp::sandbox {

RemoteConfigFile::RemoteConfigFile()
{
    reset();
}

void RemoteConfigFile::reset()
{
    std::lock_guard lock(m_mutex);
    m_raw.reset();
    m_lines = {{QStringLiteral("background_fast_time"), QStringLiteral("60")},
               {QStringLiteral("background_splash_time"), QStringLiteral("180")},
               {QStringLiteral("background_refresh_time"), QStringLiteral("108000")},
               {QStringLiteral("minimum_version"), QStringLiteral("1.0")}};
}

QByteArray RemoteConfigFile::body() const
{
    std::lock_guard lock(m_mutex);
    if (m_raw)
        return *m_raw;
    QByteArray out;
    for (const auto& [key, value] : m_lines)
        out += key.toUtf8() + '=' + value.toUtf8() + "\r\n";
    return out;
}

QJsonObject RemoteConfigFile::toJson() const
{
    std::lock_guard lock(m_mutex);
    QJsonArray lines;
    for (const auto& [key, value] : m_lines)
        lines.append(QJsonObject{{QStringLiteral("key"), key}, {QStringLiteral("value"), value}});
    QJsonObject o{{QStringLiteral("lines"), lines}};
    if (m_raw)
        o.insert(QStringLiteral("raw"), QString::fromUtf8(*m_raw));
    return o;
}

bool RemoteConfigFile::apply(const QJsonObject& changes, QString* error)
{
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (changes.isEmpty())
        return fail(QStringLiteral("Nothing to change: send {\"key\": value, ...} or {\"raw\": text}."));
    if (changes.contains(QStringLiteral("raw"))) {
        if (changes.size() != 1 || !changes.value(QStringLiteral("raw")).isString())
            return fail(QStringLiteral("\"raw\" must be a text and the only member."));
        std::lock_guard lock(m_mutex);
        m_raw = changes.value(QStringLiteral("raw")).toString().toUtf8();
        return true;
    }
    // Check everything first so that a refused change leaves the file as it was.
    QList<QPair<QString, std::optional<QString>>> updates;
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        const QString key = it.key();
        if (key.isEmpty() || key.contains(QLatin1Char('=')) || key.contains(QLatin1Char('\r')) ||
            key.contains(QLatin1Char('\n')))
            return fail(
                QStringLiteral("The key \"%1\" cannot be written as one \"key=value\" line.").arg(key));
        const QJsonValue v = it.value();
        if (v.isNull()) {
            updates.append({key, std::nullopt});
            continue;
        }
        QString text;
        if (v.isString())
            text = v.toString();
        else if (v.isDouble() && v.toDouble() == double(qint64(v.toDouble())))
            text = QString::number(qint64(v.toDouble()));
        else
            return fail(
                QStringLiteral("The value of \"%1\" must be a text, a whole number or null.").arg(key));
        if (text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
            text.contains(QLatin1Char('=')))
            return fail(QStringLiteral(
                            "The value of \"%1\" cannot be written on one \"key=value\" line; use \"raw\".")
                            .arg(key));
        updates.append({key, text});
    }
    std::lock_guard lock(m_mutex);
    m_raw.reset();
    for (const auto& [key, value] : updates) {
        auto it = std::find_if(m_lines.begin(), m_lines.end(), [&](const auto& l) { return l.first == key; });
        if (!value) {
            if (it != m_lines.end())
                m_lines.erase(it);
        } else if (it != m_lines.end()) {
            it->second = *value;
        } else {
            m_lines.append({key, *value});
        }
    }
    return true;
}

} // namespace zrp::sandbox
