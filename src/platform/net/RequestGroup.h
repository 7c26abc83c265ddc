#pragma once

#include "net/HttpClient.h"

#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>
#include <vector>

namespace zrp {

// Requests that belong together: a few run at once, the rest wait their turn, and the group
// reports once when none is outstanding. A transport failure (not an HTTP status: those are
// answers) cancels every other outstanding and queued request of the group, whose callbacks
// then never run; the group's completion carries that failure.
//
// Each request's own callback runs before the completion. cancel() (or destroying the group)
// ends everything silently: no request callback and no completion follow.
class RequestGroup : public QObject
{
    Q_OBJECT
public:
    using Completion = std::function<void(const Error& error)>;

    // client: nullptr means HttpClient::shared().
    explicit RequestGroup(HttpClient* client = nullptr, QObject* parent = nullptr);
    ~RequestGroup() override;

    void setMaxConcurrent(int n); // at least 1; 4 unless changed
    int maxConcurrent() const { return m_maxConcurrent; }

    void setCompletion(Completion completion);

    // Queues a request. Before start() nothing runs; afterwards it starts as soon as there is
    // room. Returns false (and drops it) once the group has completed or was cancelled.
    bool add(const HttpRequest& request, HttpCallback callback);

    // Starts the queued requests. A group started empty completes on a later turn.
    void start();
    void cancel();

    bool isStarted() const { return m_started; }
    bool isCompleted() const { return m_completed; }
    bool isCancelled() const { return m_cancelled; }
    int queuedCount() const { return int(m_queue.size()); }
    int inFlightCount() const;
    Error error() const { return m_error; }

private:
    void pump();
    void onRequestDone(const HttpResponse& response, const Error& error, const HttpCallback& callback);
    void cancelOutstanding();
    void checkDone();

    struct Pending
    {
        HttpRequest request;
        HttpCallback callback;
    };

    QPointer<HttpClient> m_client;
    int m_maxConcurrent = 4;
    Completion m_completion;
    std::deque<Pending> m_queue;
    std::vector<QPointer<HttpTask>> m_inFlight;
    Error m_error;
    bool m_started = false;
    bool m_completed = false; // completion decided (delivered on a later turn)
    bool m_cancelled = false;
};

} // namespace zrp
