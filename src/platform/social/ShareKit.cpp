#include "ShareKit.h"

#include "core/Config.h"
#include "ui/ActionSheet.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"

#include <QTextDocumentFragment>
#include <QUrlQuery>

namespace zrp {

namespace {
ShareKit*& instanceRef()
{
    static ShareKit* instance = nullptr;
    return instance;
}

// Mail links carry plain text only: the HTML body becomes its readable text.
QString plainFromHtml(const QString& html)
{
    return QTextDocumentFragment::fromHtml(html).toPlainText().trimmed();
}

QString encoded(const QString& text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}
} // namespace

ShareItem ShareItem::link(const QUrl& url, const QString& title)
{
    ShareItem item;
    item.kind = Kind::Link;
    item.url = url;
    item.title = title;
    return item;
}

ShareItem ShareItem::plainText(const QString& text)
{
    ShareItem item;
    item.kind = Kind::Text;
    item.text = text;
    item.title = text;
    return item;
}

ShareKit* ShareKit::sharedInstance()
{
    if (!instanceRef())
        instanceRef() = new ShareKit();
    return instanceRef();
}

void ShareKit::resetSharedInstance()
{
    if (instanceRef())
        instanceRef()->hideCurrentView(false);
    delete instanceRef();
    instanceRef() = nullptr;
}

ui::ActionSheet* ShareKit::actionSheetForItem(const ShareItem& item)
{
    hideCurrentView(false);
    auto* sheet = new ui::ActionSheet(tr("Share"), this);
    for (const QString& service : {kEmail, kFacebook, kTwitter})
        sheet->addButtonWithTitle(service);
    connect(sheet, &ui::ActionSheet::clickedButtonAtIndex, this, [this, sheet, item](int index) {
        const QString service = sheet->buttonTitleAtIndex(index);
        if (!service.isEmpty() && shareItem(item, service))
            emit didShare(item, service);
    });
    connect(sheet, &ui::ActionSheet::didDismissWithButtonIndex, sheet, &QObject::deleteLater);
    m_current = sheet;
    return sheet;
}

void ShareKit::hideCurrentView(bool animated)
{
    if (m_current && m_current->isVisible())
        m_current->dismissWithClickedButtonIndex(-1, animated);
    else
        delete m_current.data();
    m_current = nullptr;
}

bool ShareKit::shareItem(const ShareItem& item, const QString& service)
{
    QUrl url;
    if (service == kEmail)
        url = emailURL(item);
    else if (service == kFacebook)
        url = facebookURL(item);
    else if (service == kTwitter)
        url = twitterURL(item);
    return url.isValid() && !url.isEmpty() && ui::openExternalUrlOrTell(url);
}

QUrl ShareKit::emailURL(const ShareItem& item)
{
    QString subject = item.customValue(QStringLiteral("emailTitle"));
    if (subject.isEmpty())
        subject = item.title;
    QString body = item.customValue(QStringLiteral("body"));
    if (body.isEmpty()) {
        body = item.kind == ShareItem::Kind::Link
                   ? QStringLiteral("%1<br/>%2")
                         .arg(item.title.toHtmlEscaped(), item.url.toString().toHtmlEscaped())
                   : item.text.toHtmlEscaped();
    }
    body += QStringLiteral("<br/><br/>Sent from %1").arg(kApplicationName);
    // Built by hand: QUrlQuery would leave "&" and "+" in the texts unescaped for mail programs.
    return QUrl(
        QStringLiteral("mailto:?subject=%1&body=%2").arg(encoded(subject), encoded(plainFromHtml(body))),
        QUrl::StrictMode);
}

QUrl ShareKit::facebookURL(const ShareItem& item)
{
    QUrl url(Config::shared().value(QStringLiteral("share.facebook_url")));
    QUrlQuery query;
    // The share page needs a link; a text item points at the network's video site.
    const QUrl link = item.kind == ShareItem::Kind::Link && item.url.isValid()
                          ? item.url
                          : Config::shared().url(QStringLiteral("video_site.base_url"));
    query.addQueryItem(QStringLiteral("u"), encoded(link.toString(QUrl::FullyEncoded)));
    QString title = item.customValue(QStringLiteral("facebookTitle"));
    if (title.isEmpty())
        title = item.title;
    if (!title.isEmpty())
        query.addQueryItem(QStringLiteral("t"), encoded(title));
    const QString description = item.customValue(QStringLiteral("description"));
    if (!description.isEmpty())
        query.addQueryItem(QStringLiteral("quote"), encoded(description));
    url.setQuery(query);
    return url;
}

QUrl ShareKit::twitterURL(const ShareItem& item)
{
    QUrl url(Config::shared().value(QStringLiteral("share.twitter_url")));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("text"),
                       encoded(item.kind == ShareItem::Kind::Link ? item.title : item.text));
    if (item.kind == ShareItem::Kind::Link && item.url.isValid())
        query.addQueryItem(QStringLiteral("url"), encoded(item.url.toString(QUrl::FullyEncoded)));
    url.setQuery(query);
    return url;
}

} // namespace zrp
