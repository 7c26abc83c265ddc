#include "RemoteImageView.h"

#include "Kit.h"

#include <QPainter>
#include <QPainterPath>

namespace zrp::ui {

RemoteImageView::RemoteImageView(QWidget* parent) : QWidget(parent) {}

RemoteImageView::~RemoteImageView()
{
    cancelLoad();
}

void RemoteImageView::setDefaultImage(const QImage& image)
{
    m_default = image;
    if (!m_loaded)
        update();
}

void RemoteImageView::setImage(const QImage& image)
{
    m_image = image;
    m_loaded = !image.isNull();
    update();
}

void RemoteImageView::cancelLoad()
{
    if (m_task)
        m_task->cancel();
    m_task = nullptr;
}

void RemoteImageView::setImageURL(const QUrl& url)
{
    cancelLoad();
    m_url = url;
    m_image = QImage();
    m_loaded = false;
    update();
    if (!url.isValid() || url.isEmpty())
        return;
    HttpRequest req(url);
    req.timeoutMs = m_timeoutMs;
    req.cachePolicy = m_cachePolicy;
    req.maxAgeSeconds = m_maxAge;
    HttpClient* client = m_client ? m_client.data() : &HttpClient::shared();
    QPointer<RemoteImageView> self(this);
    m_task = client->send(req, [self](const HttpResponse& r, const Error& e) {
        if (!self)
            return;
        self->m_task = nullptr;
        QImage img;
        if (!e && r.status < 400)
            img.loadFromData(r.body);
        if (img.isNull()) {
            self->update();
            emit self->imageDidFail(self);
            return;
        }
        self->setImage(img);
        emit self->imageDidLoad(self);
    });
    update();
}

void RemoteImageView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (m_radius > 0) {
        QPainterPath clip;
        clip.addRoundedRect(rect(), m_radius, m_radius);
        p.setClipPath(clip);
    }
    const QImage& img = m_loaded ? m_image : m_default;
    if (!img.isNull())
        p.drawImage(rect(), img);
    if (m_spinnerEnabled && isLoading()) {
        p.setPen(QPen(Theme::secondaryText, 3, Qt::SolidLine, Qt::RoundCap));
        const int d = std::min(24, std::min(width(), height()) / 2);
        p.drawArc(QRect(width() / 2 - d / 2, height() / 2 - d / 2, d, d), 0, 270 * 16);
    }
}

} // namespace zrp::ui
