#include "LoopbackServer.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>

namespace zrp::test {

namespace {
QByteArray qba(const std::string& s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}
std::string str(const QByteArray& b)
{
    return std::string(b.constData(), size_t(b.size()));
}
} // namespace

QByteArray LoopbackServer::Request::header(const QByteArray& name) const
{
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return QByteArray();
}

bool LoopbackServer::Request::hasHeader(const QByteArray& name) const
{
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
}

LoopbackServer::LoopbackServer() : m_server(std::make_unique<httplib::Server>())
{
    // Held requests occupy a worker each; leave room for the rest of a test.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(24); };
    m_server->set_keep_alive_max_count(1000);
    // Headers and body go out in separate writes; without this, Nagle's algorithm and the
    // client's delayed ACK hold every answer back by some 40 ms.
    m_server->set_tcp_nodelay(true);
    // Idle keep-alive connections hold stop() for this long; tests stop servers often.
    m_server->set_keep_alive_timeout(1);

    auto serve = [this](const httplib::Request& req, httplib::Response& res) {
        Request r;
        r.method = qba(req.method);
        r.path = qba(req.path);
        r.target = qba(req.target);
        r.body = qba(req.body);
        for (const auto& [k, v] : req.headers)
            r.headers.append({qba(k), qba(v)});

        quint64 generation = 0;
        {
            std::lock_guard lock(m_mutex);
            m_requests.append(r);
            m_peak = std::max(m_peak, ++m_active);
            generation = m_releaseGeneration;
        }
        const Answer a = answerFor(r);
        {
            std::unique_lock lock(m_mutex);
            if (a.hold)
                m_cv.wait(lock, [&] { return m_stopping || m_releaseGeneration > generation; });
            if (a.delayMs > 0)
                m_cv.wait_for(lock, std::chrono::milliseconds(a.delayMs), [&] { return m_stopping; });
            --m_active;
        }

        res.status = a.status;
        std::string type = str(a.contentType);
        for (const auto& h : a.headers) {
            if (h.first.compare("Content-Type", Qt::CaseInsensitive) == 0)
                type = str(h.second); // set with the content below, or it would be replaced
            else
                res.set_header(str(h.first), str(h.second));
        }
        const std::string body = str(a.body);
        const size_t cut = a.dropAfterHeaders  ? 0
                           : a.truncateAt >= 0 ? std::min(size_t(a.truncateAt), body.size())
                                               : body.size();
        const bool truncated = cut < body.size() || a.dropAfterHeaders;
        if (a.chunked) {
            res.set_chunked_content_provider(type,
                                             [body, cut, truncated](size_t offset, httplib::DataSink& sink) {
                                                 if (offset == 0 && cut > 0) {
                                                     sink.write(body.data(), cut);
                                                     if (!truncated)
                                                         sink.done();
                                                     return true;
                                                 }
                                                 if (!truncated) {
                                                     sink.done();
                                                     return true;
                                                 }
                                                 return false; // no last chunk: the connection just ends
                                             });
        } else if (truncated) {
            res.set_content_provider(body.size(), type,
                                     [body, cut](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset >= cut)
                                             return false; // close short of Content-Length
                                         sink.write(body.data() + offset, cut - offset);
                                         return true;
                                     });
        } else if (!body.empty() || (a.status != 204 && a.status != 304)) {
            res.set_content(body, type);
        }
    };
    const std::string any = ".*";
    m_server->Get(any, serve);
    m_server->Post(any, serve);
    m_server->Put(any, serve);
    m_server->Delete(any, serve);
    m_server->Patch(any, serve);
    m_server->Options(any, serve);

    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // Ready on return, so that stop() always finds a running loop to end.
    if (m_port > 0) {
        while (!m_server->is_running())
            std::this_thread::yield();
    }
}

LoopbackServer::~LoopbackServer()
{
    stop();
}

void LoopbackServer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    m_cv.notify_all();
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

QUrl LoopbackServer::url(const QString& pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(pathAndQuery));
}

void LoopbackServer::on(const QByteArray& path, const Answer& answer)
{
    on(path, [answer](const Request&) { return answer; });
}

void LoopbackServer::on(const QByteArray& path, Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_standing[path] = std::move(handler);
}

void LoopbackServer::enqueue(const QByteArray& path, const Answer& answer)
{
    std::lock_guard lock(m_mutex);
    m_queued[path].push_back(answer);
}

void LoopbackServer::reset()
{
    std::lock_guard lock(m_mutex);
    m_queued.clear();
    m_standing.clear();
    m_requests.clear();
    m_peak = m_active;
}

void LoopbackServer::releaseHeld()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_releaseGeneration;
    }
    m_cv.notify_all();
}

LoopbackServer::Answer LoopbackServer::answerFor(const Request& r)
{
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        auto q = m_queued.find(r.path);
        if (q != m_queued.end() && !q->second.empty()) {
            Answer a = q->second.front();
            q->second.pop_front();
            return a;
        }
        auto s = m_standing.find(r.path);
        if (s == m_standing.end())
            return Answer(404, "not scripted");
        handler = s->second;
    }
    return handler(r);
}

QList<LoopbackServer::Request> LoopbackServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int LoopbackServer::requestCount(const QByteArray& path) const
{
    std::lock_guard lock(m_mutex);
    if (path.isEmpty())
        return int(m_requests.size());
    return int(std::count_if(m_requests.begin(), m_requests.end(),
                             [&](const Request& r) { return r.path == path; }));
}

LoopbackServer::Request LoopbackServer::lastRequest() const
{
    std::lock_guard lock(m_mutex);
    return m_requests.isEmpty() ? Request() : m_requests.last();
}

int LoopbackServer::activeCount() const
{
    std::lock_guard lock(m_mutex);
    return m_active;
}

int LoopbackServer::peakActive() const
{
    std::lock_guard lock(m_mutex);
    return m_peak;
}

} // namespace zrp::test
