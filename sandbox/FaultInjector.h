#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace zrp::sandbox {

// One order: the next `count` requests whose path begins with `prefix` get the fault.
struct FaultOrder
{
    int id = 0;
    QString prefix;
    int count = 1;
    int status = 0;       // answer with this status instead of the real answer
    qint64 delayMs = 0;   // wait before answering
    bool drop = false;    // close the connection without an answer
    qint64 truncate = -1; // send only this many bytes of the body, then close
    bool corrupt = false; // bytes that are neither UTF-8 nor JSON in place of the body
    int used = 0;

    QJsonObject toJson() const;
    // {"prefix": "/vexo/v1/groups/", "count": 2, "status": 503} and the other effects above.
    static std::optional<FaultOrder> fromJson(const QJsonObject& o, QString* error);
    // The command line form: the same JSON, or "prefix=/vexo/v1/,count=2,status=503".
    static std::optional<FaultOrder> fromText(const QString& text, QString* error);
};

class FaultInjector
{
public:
    void add(const QList<FaultOrder>& orders);
    // The fault for a request to `path`, counting it as spent; nullopt when none applies.
    std::optional<FaultOrder> take(const QString& path);
    void clear(); // also cuts every pending delay short
    QJsonArray toJson() const;

    // Waits up to ms; false when clear(), interrupt() or a stop cut it short.
    bool delay(qint64 ms);
    void interrupt();
    void setStopped(bool stopped); // while stopped, delays end at once

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    QList<FaultOrder> m_orders;
    int m_nextId = 1;
    quint64 m_generation = 0;
    bool m_stopped = false;
};

} // namespace zrp::sandbox
