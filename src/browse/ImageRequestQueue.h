#pragma once

#include "net/HttpClient.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

// Told when one of its images has arrived. Implemented by every view or screen that shows
// catalog images.
class ImageRequestDelegate
{
public:
    virtual ~ImageRequestDelegate() = default;
    virtual void downloadDidFinishDownloadingData(const QByteArray& data, const QString& identifier) = 0;
};

// How every screen loads catalog images: a plain GET per image, kept in the download cache for
// three days and revalidated after that, answered to the owner by identifier. A failure, a body
// that is not an image and a "Content-Type" that is not an image type are all ignored, so the
// owner keeps whatever it showed (its placeholder or the cached image).
class ImageRequestQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kMaxAgeSeconds = 259200;
    static inline const QString kIdentifierKey = QStringLiteral("identifier");

    explicit ImageRequestQueue(ImageRequestDelegate* delegate, QObject* parent = nullptr);
    ~ImageRequestQueue() override; // cancels every request

    // The image the download cache holds for url, fresh or stale; a null image when there is none
    // or the stored answer is not an image.
    QImage cachedImageForURLString(const QString& url) const;

    // Starts the request at once and returns the cached image (null when none), which the owner
    // shows until the answer comes. Missing or empty URLs start nothing.
    QImage enqueueRequestForURLString(const QString& url, const QString& identifier);

    // Every request under way is cancelled; no answer reaches the owner afterwards.
    void cancelRequests();

    // The requests still under way, in start order.
    QList<zrp::HttpRequest> requests() const;
    int pendingCount() const;

    void setHttpClient(zrp::HttpClient* client) { m_client = client; } // default: the shared one
    zrp::HttpClient* httpClient() const;

    // Whether an answer counts as an image: a 2xx status and a "Content-Type" of an image type.
    static bool isImageResponse(const zrp::HttpResponse& response);

private:
    ImageRequestDelegate* m_delegate; // the owner; it owns this queue
    QList<QPointer<zrp::HttpTask>> m_requests;
    QPointer<zrp::HttpClient> m_client;
};
