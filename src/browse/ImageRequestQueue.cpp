#include "ImageRequestQueue.h"

#include "net/DownloadCache.h"

#include <QUrl>
#include <utility>

using namespace zrp;

ImageRequestQueue::ImageRequestQueue(ImageRequestDelegate* delegate, QObject* parent)
    : QObject(parent), m_delegate(delegate)
{}

ImageRequestQueue::~ImageRequestQueue()
{
    cancelRequests();
}

HttpClient* ImageRequestQueue::httpClient() const
{
    return m_client ? m_client.data() : &HttpClient::shared();
}

bool ImageRequestQueue::isImageResponse(const HttpResponse& response)
{
    if (response.status < 200 || response.status >= 300)
        return false;
    return response.header("Content-Type").trimmed().toLower().startsWith("image");
}

QImage ImageRequestQueue::cachedImageForURLString(const QString& url) const
{
    if (url.isEmpty())
        return {};
    DownloadCache* cache = httpClient()->cache();
    if (!cache)
        return {};
    const auto entry = cache->lookup(QUrl(url));
    if (!entry || !isImageResponse(entry->response))
        return {};
    return QImage::fromData(entry->response.body);
}

QImage ImageRequestQueue::enqueueRequestForURLString(const QString& url, const QString& identifier)
{
    if (url.isEmpty())
        return {};
    const QUrl u(url);
    // A catalog image is always a full address; anything else cannot be fetched.
    if (!u.isValid() || u.isRelative() || u.host().isEmpty())
        return {};
    const QImage cached = cachedImageForURLString(url);

    HttpRequest request(u);
    // The body goes straight into an image decoder and into the cache as it came.
    request.setHeader("Accept-Encoding", "identity");
    request.userInfo.insert(kIdentifierKey, identifier);
    request.cachePolicy = CachePolicy::UseCache;
    request.maxAgeSeconds = kMaxAgeSeconds;

    QPointer<ImageRequestQueue> self(this);
    HttpTask* task = httpClient()->send(request, [self, identifier](const HttpResponse& response,
                                                                    const Error& error) {
        if (!self)
            return;
        // The client deletes a task after its callback; forget the finished ones now.
        self->m_requests.removeIf([](const QPointer<HttpTask>& t) { return t.isNull() || t->isFinished(); });
        if (error || !isImageResponse(response) || !self->m_delegate)
            return;
        self->m_delegate->downloadDidFinishDownloadingData(response.body, identifier);
    });
    m_requests.append(task);
    return cached;
}

void ImageRequestQueue::cancelRequests()
{
    const auto requests = std::exchange(m_requests, {});
    for (const auto& t : requests)
        if (t)
            t->cancel();
}

QList<HttpRequest> ImageRequestQueue::requests() const
{
    QList<HttpRequest> out;
    for (const auto& t : m_requests)
        if (t && !t->isFinished())
            out << t->request();
    return out;
}

int ImageRequestQueue::pendingCount() const
{
    return int(requests().size());
}
