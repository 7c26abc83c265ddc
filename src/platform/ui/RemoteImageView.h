#pragma once

#include "net/HttpClient.h"

#include <QImage>
#include <QPointer>
#include <QUrl>
#include <QVariant>
#include <QWidget>
#include <memory>

namespace zrp::ui {

// An image fetched from a URL, with a default image shown until (and unless) it arrives.
// Setting a URL cancels a load in progress. A status of 400 or more, a body that is not an
// image, or a transport failure keeps the default image.
class RemoteImageView : public QWidget
{
    Q_OBJECT
public:
    explicit RemoteImageView(QWidget* parent = nullptr);
    ~RemoteImageView() override;

    void setDefaultImage(const QImage& image);
    void setImage(const QImage& image);
    QImage image() const { return m_image; }
    bool hasLoadedImage() const { return m_loaded; }

    void setImageURL(const QUrl& url);
    QUrl imageURL() const { return m_url; }
    void cancelLoad();
    bool isLoading() const { return !m_task.isNull(); }

    void setSpinnerEnabled(bool on) { m_spinnerEnabled = on; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    void setCachePolicy(CachePolicy p, qint64 maxAgeSeconds)
    {
        m_cachePolicy = p;
        m_maxAge = maxAgeSeconds;
    }
    QVariant userInfo() const { return m_userInfo; }
    void setUserInfo(const QVariant& v) { m_userInfo = v; }
    void setCornerRadius(int r) { m_radius = r; }

    void setHttpClient(HttpClient* client) { m_client = client; } // default: the shared one

signals:
    void imageDidLoad(RemoteImageView* view);
    void imageDidFail(RemoteImageView* view);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage m_default;
    QImage m_image;
    bool m_loaded = false;
    QUrl m_url;
    QPointer<HttpTask> m_task;
    bool m_spinnerEnabled = false;
    int m_timeoutMs = 10000;
    CachePolicy m_cachePolicy = CachePolicy::NeverStore;
    qint64 m_maxAge = 0;
    QVariant m_userInfo;
    int m_radius = 0;
    QPointer<HttpClient> m_client;
};

} // namespace zrp::ui
