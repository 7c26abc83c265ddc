#include "FaultInjector.h"

#include <QJsonDocument>
#include <chrono>

namespace zrp::sandbox {

QJsonObject FaultOrder::toJson() const
{
    QJsonObject o{{QStringLiteral("id"), id},
                  {QStringLiteral("prefix"), prefix},
                  {QStringLiteral("count"), count},
                  {QStringLiteral("used"), used}};
    if (status)
        o.insert(QStringLiteral("status"), status);
    if (delayMs)
        o.insert(QStringLiteral("delay_ms"), delayMs);
    if (drop)
        o.insert(QStringLiteral("drop"), true);
    if (truncate >= 0)
        o.insert(QStringLiteral("truncate"), truncate);
    if (corrupt)
        o.insert(QStringLiteral("corrupt"), true);
    return o;
}

std::optional<FaultOrder> FaultOrder::fromJson(const QJsonObject& o, QString* error)
{
    auto fail = [&](const QString& text) -> std::optional<FaultOrder> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    static const QStringList known = {QStringLiteral("prefix"), QStringLiteral("count"),
                                      QStringLiteral("status"), QStringLiteral("delay_ms"),
                                      QStringLiteral("drop"),   QStringLiteral("truncate"),
                                      QStringLiteral("corrupt")};
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!known.contains(it.key()))
            return fail(QStringLiteral("Unknown member \"%1\" in a fault order.").arg(it.key()));
    }
    auto integer = [&](const char* key, qint64 lo, qint64 hi, qint64* out) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return true;
        const double d = v.toDouble(-1);
        if (!v.isDouble() || d != double(qint64(d)) || d < double(lo) || d > double(hi))
            return false;
        *out = qint64(d);
        return true;
    };
    auto boolean = [&](const char* key, bool* out) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return true;
        if (!v.isBool())
            return false;
        *out = v.toBool();
        return true;
    };

    FaultOrder f;
    const QJsonValue prefix = o.value(QStringLiteral("prefix"));
    if (!prefix.isString() || !prefix.toString().startsWith(QLatin1Char('/')))
        return fail(QStringLiteral("A fault order needs a \"prefix\" path that begins with \"/\"."));
    f.prefix = prefix.toString();
    qint64 count = 1, status = 0;
    if (!integer("count", 1, 1000000, &count))
        return fail(QStringLiteral("\"count\" must be a whole number of at least 1."));
    if (!integer("status", 100, 599, &status))
        return fail(QStringLiteral("\"status\" must be an HTTP status between 100 and 599."));
    if (!integer("delay_ms", 0, 600000, &f.delayMs))
        return fail(QStringLiteral("\"delay_ms\" must be between 0 and 600000."));
    if (!integer("truncate", 0, qint64(1) << 40, &f.truncate))
        return fail(QStringLiteral("\"truncate\" must be a byte count of 0 or more."));
    if (!boolean("drop", &f.drop) || !boolean("corrupt", &f.corrupt))
        return fail(QStringLiteral("\"drop\" and \"corrupt\" must be true or false."));
    f.count = int(count);
    f.status = int(status);
    if (!f.status && !f.delayMs && !f.drop && f.truncate < 0 && !f.corrupt)
        return fail(
            QStringLiteral("A fault order needs one of \"status\", \"delay_ms\", \"drop\", \"truncate\" "
                           "or \"corrupt\"."));
    return f;
}

std::optional<FaultOrder> FaultOrder::fromText(const QString& text, QString* error)
{
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('{'))) {
        QJsonParseError pe;
        const QJsonDocument doc = QJsonDocument::fromJson(t.toUtf8(), &pe);
        if (!doc.isObject()) {
            if (error)
                *error = QStringLiteral("The fault order is not a JSON object: %1").arg(pe.errorString());
            return std::nullopt;
        }
        return fromJson(doc.object(), error);
    }
    QJsonObject o;
    for (const QString& part : t.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        const QString key = part.left(eq).trimmed();
        const QString value = eq < 0 ? QStringLiteral("true") : part.mid(eq + 1).trimmed();
        bool isNumber = false;
        const qint64 n = value.toLongLong(&isNumber);
        if (key == QLatin1String("prefix"))
            o.insert(key, value);
        else if (value == QLatin1String("true") || value == QLatin1String("false"))
            o.insert(key, value == QLatin1String("true"));
        else if (isNumber)
            o.insert(key, n);
        else
            o.insert(key, value);
    }
    return fromJson(o, error);
}

void FaultInjector::add(const QList<FaultOrder>& orders)
{
    std::lock_guard lock(m_mutex);
    for (FaultOrder f : orders) {
        f.id = m_nextId++;
        f.used = 0;
        m_orders.append(f);
    }
}

std::optional<FaultOrder> FaultInjector::take(const QString& path)
{
    std::lock_guard lock(m_mutex);
    for (int i = 0; i < m_orders.size(); ++i) {
        FaultOrder& f = m_orders[i];
        if (!path.startsWith(f.prefix))
            continue;
        ++f.used;
        FaultOrder applied = f;
        if (f.used >= f.count)
            m_orders.removeAt(i);
        return applied;
    }
    return std::nullopt;
}

void FaultInjector::clear()
{
    {
        std::lock_guard lock(m_mutex);
        m_orders.clear();
    }
    interrupt();
}

QJsonArray FaultInjector::toJson() const
{
    std::lock_guard lock(m_mutex);
    QJsonArray out;
    for (const FaultOrder& f : m_orders)
        out.append(f.toJson());
    return out;
}

bool FaultInjector::delay(qint64 ms)
{
    std::unique_lock lock(m_mutex);
    const quint64 generation = m_generation;
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms),
                            [&] { return m_stopped || m_generation != generation; });
}

void FaultInjector::setStopped(bool stopped)
{
    {
        std::lock_guard lock(m_mutex);
        m_stopped = stopped;
    }
    m_wake.notify_all();
}

void FaultInjector::interrupt()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
    }
    m_wake.notify_all();
}

} // namespace zrp::sandbox
