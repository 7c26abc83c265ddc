#include "RequestGroup.h"

#include <algorithm>

namespace zrp {

RequestGroup::RequestGroup(HttpClient* client, QObject* parent)
    : QObject(parent), m_client(client ? client : &HttpClient::shared())
{}

RequestGroup::~RequestGroup()
{
    cancel();
}

void RequestGroup::setMaxConcurrent(int n)
{
    m_maxConcurrent = std::max(1, n);
    pump();
}

void RequestGroup::setCompletion(Completion completion)
{
    m_completion = std::move(completion);
}

bool RequestGroup::add(const HttpRequest& request, HttpCallback callback)
{
    if (m_completed || m_cancelled)
        return false;
    m_queue.push_back({request, std::move(callback)});
    pump();
    return true;
}

void RequestGroup::start()
{
    if (m_started || m_cancelled)
        return;
    m_started = true;
    pump();
    checkDone();
}

int RequestGroup::inFlightCount() const
{
    return int(std::count_if(m_inFlight.begin(), m_inFlight.end(),
                             [](const QPointer<HttpTask>& t) { return t && !t->isFinished(); }));
}

void RequestGroup::pump()
{
    if (!m_started || m_cancelled || m_completed || !m_client)
        return;
    while (!m_queue.empty() && inFlightCount() < m_maxConcurrent) {
        Pending p = std::move(m_queue.front());
        m_queue.pop_front();
        QPointer<RequestGroup> self(this);
        HttpCallback cb = std::move(p.callback);
        HttpTask* task = m_client->send(p.request, [self, cb](const HttpResponse& r, const Error& e) {
            if (self)
                self->onRequestDone(r, e, cb);
        });
        m_inFlight.push_back(task);
    }
}

void RequestGroup::onRequestDone(const HttpResponse& response, const Error& error,
                                 const HttpCallback& callback)
{
    // The finishing task reports isFinished() already; forget it and any other ended one.
    std::erase_if(m_inFlight, [](const QPointer<HttpTask>& t) { return !t || t->isFinished(); });
    QPointer<RequestGroup> self(this);
    if (callback)
        callback(response, error);
    if (!self || m_cancelled)
        return;
    if (error && m_error.isNull()) {
        m_error = error;
        cancelOutstanding();
    }
    pump();
    checkDone();
}

void RequestGroup::cancelOutstanding()
{
    m_queue.clear();
    auto inFlight = std::move(m_inFlight);
    m_inFlight.clear();
    for (const QPointer<HttpTask>& t : inFlight) {
        if (t)
            t->cancel();
    }
}

void RequestGroup::checkDone()
{
    if (!m_started || m_completed || m_cancelled || !m_queue.empty() || inFlightCount() > 0)
        return;
    m_completed = true;
    // On a later turn, so that a group started empty does not complete inside start(), and a
    // cancel() in between still silences it.
    QPointer<RequestGroup> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (!self || self->m_cancelled || !self->m_completion)
                return;
            Completion c = self->m_completion;
            c(self->m_error);
        },
        Qt::QueuedConnection);
}

void RequestGroup::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    cancelOutstanding();
}

} // namespace zrp
