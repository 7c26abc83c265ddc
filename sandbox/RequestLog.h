#pragma once

#include "SandboxHttp.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <deque>
#include <mutex>

namespace zrp::sandbox {

// Every request the services received, in arrival order, for tests and people to read back.
// Bounded: the oldest entries go first once there are too many or their bodies grow too big.
// Sequence numbers keep growing across clear(), so a reader's "since" stays meaningful.
class RequestLog
{
public:
    static constexpr qsizetype kMaxEntries = 20000;
    static constexpr qsizetype kMaxBodyBytes = 64 * 1024 * 1024;

    qint64 append(const HttpRequest& request);
    // The outcome once it is known: the status sent (0: none, the connection was dropped) and
    // the fault applied, if any.
    void setOutcome(qint64 seq, int status, const QJsonObject& fault);
    QJsonArray since(qint64 seq, const QString& pathPrefix) const;
    qint64 lastSeq() const;
    void clear();

    // With a data folder, each finished entry is also appended to a JSON-lines file there.
    bool setJournal(const QString& path, QString* error);

private:
    struct Entry
    {
        qint64 seq = 0;
        qint64 timeMs = 0;
        QByteArray method, path, query;
        HeaderList headers;
        QByteArray body;
        int status = -1;
        QJsonObject fault;
    };
    static QJsonObject toJson(const Entry& e);

    mutable std::mutex m_mutex;
    std::deque<Entry> m_entries;
    qint64 m_nextSeq = 1;
    qsizetype m_bodyBytes = 0;
    QFile m_journal;
};

} // namespace zrp::sandbox
