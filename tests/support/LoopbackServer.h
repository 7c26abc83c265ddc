#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace zrp::test {

// A real HTTP server on 127.0.0.1 (a free port) for tests: it records every request and answers
// what the test scripted for each path. Unscripted paths get 404.
class LoopbackServer
{
public:
    using HeaderList = QList<QPair<QByteArray, QByteArray>>;

    struct Request
    {
        QByteArray method;
        QByteArray path;   // without the query
        QByteArray target; // path and query as sent
        HeaderList headers;
        QByteArray body;
        QByteArray header(const QByteArray& name) const; // first of that name, any case
        bool hasHeader(const QByteArray& name) const;
    };

    struct Answer
    {
        int status = 200;
        HeaderList headers;
        QByteArray body;
        // Not compressible by the server unless a test picks a text type on purpose.
        QByteArray contentType = "application/octet-stream";
        bool hold = false;             // wait for releaseHeld() (or the server's end) before answering
        int delayMs = 0;               // wait this long first (server side only; never a test's clock)
        qint64 truncateAt = -1;        // send only this many body bytes, then close the connection
        bool chunked = false;          // chunked transfer coding instead of Content-Length
        bool dropAfterHeaders = false; // close the connection right after the header block

        Answer() = default;
        Answer(int s, QByteArray b = QByteArray()) : status(s), body(std::move(b)) {}
        Answer& header(const QByteArray& name, const QByteArray& value)
        {
            headers.append({name, value});
            return *this;
        }
        static Answer redirect(int status, const QByteArray& location)
        {
            Answer a(status);
            a.header("Location", location);
            return a;
        }
    };
    using Handler = std::function<Answer(const Request&)>;

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return m_port; }
    QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;

    // Every request to path gets this answer (or the handler's), after any queued ones.
    void on(const QByteArray& path, const Answer& answer);
    void on(const QByteArray& path, Handler handler);
    // One-shot answers for path, used in order before the standing one.
    void enqueue(const QByteArray& path, const Answer& answer);
    void reset(); // forgets scripts and recorded requests

    // Lets every request currently held (Answer::hold) answer.
    void releaseHeld();

    QList<Request> requests() const;
    int requestCount(const QByteArray& path = QByteArray()) const;
    Request lastRequest() const;
    int activeCount() const; // requests being answered right now
    int peakActive() const;  // most requests ever answered at once

    void stop();

private:
    Answer answerFor(const Request& r);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<QByteArray, std::deque<Answer>> m_queued;
    std::map<QByteArray, Handler> m_standing;
    QList<Request> m_requests;
    quint64 m_releaseGeneration = 0;
    int m_active = 0;
    int m_peak = 0;
    bool m_stopping = false;
};

} // namespace zrp::test
