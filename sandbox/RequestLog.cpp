#include "RequestLog.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QStringDecoder>

namespace zrp::sandbox {

qint64 RequestLog::append(const HttpRequest& request)
{
    std::lock_guard lock(m_mutex);
    Entry e;
    e.seq = m_nextSeq++;
    e.timeMs = QDateTime::currentMSecsSinceEpoch();
    e.method = request.method;
    e.path = request.rawPath;
    e.query = request.rawQuery;
    e.headers = request.headers;
    e.body = request.body;
    m_bodyBytes += e.body.size();
    m_entries.push_back(std::move(e));
    while (!m_entries.empty() && (qsizetype(m_entries.size()) > kMaxEntries ||
                                  (m_bodyBytes > kMaxBodyBytes && m_entries.size() > 1))) {
        m_bodyBytes -= m_entries.front().body.size();
        m_entries.pop_front();
    }
    return m_entries.back().seq;
}

void RequestLog::setOutcome(qint64 seq, int status, const QJsonObject& fault)
{
    std::lock_guard lock(m_mutex);
    if (m_entries.empty() || seq < m_entries.front().seq)
        return;
    const qint64 index = seq - m_entries.front().seq;
    if (index >= qint64(m_entries.size()))
        return;
    Entry& e = m_entries[size_t(index)];
    e.status = status;
    e.fault = fault;
    if (m_journal.isOpen()) {
        m_journal.write(QJsonDocument(toJson(e)).toJson(QJsonDocument::Compact) + '\n');
        m_journal.flush();
    }
}

QJsonObject RequestLog::toJson(const Entry& e)
{
    QJsonObject headers;
    for (const auto& [name, value] : e.headers) {
        const QString key = QString::fromLatin1(name);
        const QString v = QString::fromLatin1(value);
        headers.insert(key,
                       headers.contains(key) ? headers.value(key).toString() + QStringLiteral(", ") + v : v);
    }
    QJsonObject o{
        {QStringLiteral("seq"), e.seq},
        {QStringLiteral("time"),
         QDateTime::fromMSecsSinceEpoch(e.timeMs, Qt::UTC).toString(Qt::ISODateWithMs)},
        {QStringLiteral("method"), QString::fromLatin1(e.method)},
        {QStringLiteral("path"), QString::fromLatin1(e.path)},
        {QStringLiteral("query"), QString::fromLatin1(e.query)},
        {QStringLiteral("headers"), headers},
        {QStringLiteral("status"), e.status},
    };
    // Bodies are shown as text when they are UTF-8, else in Base64.
    auto decoder = QStringDecoder(QStringDecoder::Utf8);
    const QString text = decoder(e.body);
    if (decoder.hasError())
        o.insert(QStringLiteral("body_base64"), QString::fromLatin1(e.body.toBase64()));
    else
        o.insert(QStringLiteral("body"), text);
    if (!e.fault.isEmpty())
        o.insert(QStringLiteral("fault"), e.fault);
    return o;
}

QJsonArray RequestLog::since(qint64 seq, const QString& pathPrefix) const
{
    std::lock_guard lock(m_mutex);
    QJsonArray out;
    for (const Entry& e : m_entries) {
        if (e.seq <= seq)
            continue;
        if (!pathPrefix.isEmpty() && !QString::fromLatin1(e.path).startsWith(pathPrefix))
            continue;
        out.append(toJson(e));
    }
    return out;
}

qint64 RequestLog::lastSeq() const
{
    std::lock_guard lock(m_mutex);
    return m_nextSeq - 1;
}

void RequestLog::clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_bodyBytes = 0;
}

bool RequestLog::setJournal(const QString& path, QString* error)
{
    std::lock_guard lock(m_mutex);
    m_journal.close();
    m_journal.setFileName(path);
    if (!m_journal.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, m_journal.errorString());
        return false;
    }
    return true;
}

} // namespace zrp::sandbox
