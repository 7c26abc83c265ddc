#pragma once

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QUrl>

namespace zrp {

namespace ui {
class ActionSheet;
}

// What is shared: a link with a title, or a text. Custom values carry the per-service texts
// ("emailTitle", "body", "facebookTitle", "description", and whatever the caller wants back
// when told which service was picked).
struct ShareItem
{
    enum class Kind
    {
        Link,
        Text
    };
    Kind kind = Kind::Text;
    QUrl url;
    QString title;
    QString text;
    QMap<QString, QString> customValues;

    static ShareItem link(const QUrl& url, const QString& title);
    static ShareItem plainText(const QString& text);
    QString customValue(const QString& key) const { return customValues.value(key); }
};

// Sharing by e-mail, Facebook and Twitter: a sheet of the three services; the choice opens the
// mail program with a filled message, or the service's web share page in the browser.
class ShareKit : public QObject
{
    Q_OBJECT
public:
    static inline const QString kEmail = QStringLiteral("Email");
    static inline const QString kFacebook = QStringLiteral("Facebook");
    static inline const QString kTwitter = QStringLiteral("Twitter");
    static inline const QString kApplicationName = QStringLiteral("ZRP iPad Viewer");

    static ShareKit* sharedInstance();
    static void resetSharedInstance(); // tests

    // The "Share" sheet for the item; showing it is the caller's. The kit keeps it as its
    // current view until a choice or hideCurrentView.
    ui::ActionSheet* actionSheetForItem(const ShareItem& item);
    ui::ActionSheet* currentView() const { return m_current; }
    void hideCurrentView(bool animated);

    // Hands the item to a service; false when the service is unknown or nothing could open it.
    bool shareItem(const ShareItem& item, const QString& service);

    static QUrl emailURL(const ShareItem& item);
    static QUrl facebookURL(const ShareItem& item);
    static QUrl twitterURL(const ShareItem& item);

signals:
    // After the item was handed to the service.
    void didShare(const zrp::ShareItem& item, const QString& service);

private:
    ShareKit() = default;
    QPointer<ui::ActionSheet> m_current;
};

} // namespace zrp
