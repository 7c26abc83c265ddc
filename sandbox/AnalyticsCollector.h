#pragma once

#include "SandboxHttp.h"

#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <QStringList>
#include <mutex>

namespace zrp::sandbox {

// The analytics collector: takes the tracker's batches, checks every hit and keeps it. A batch
// sent again (its answer was lost) is acknowledged in full but each of its hits is kept once.
class AnalyticsCollector
{
public:
    explicit AnalyticsCollector(QStringList accountIds);

    HttpReply collect(const HttpRequest& request);
    QJsonArray hits(qint64 sinceIndex) const; // each hit carries its "index" in arrival order
    void clear();

private:
    QStringList m_accountIds;
    mutable std::mutex m_mutex;
    QJsonArray m_hits;
    QHash<QString, QSet<QByteArray>> m_seen;
    qint64 m_nextIndex = 1;
};

} // namespace zrp::sandbox
