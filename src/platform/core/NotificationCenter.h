#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <functional>
#include <mutex>
#include <vector>

namespace zrp {

struct Notification
{
    QString name;
    QVariant object; // the payload
    QVariantMap userInfo;
};

// Process-wide notifications by name. Observers are called on the main thread: a post from the
// main thread delivers at once, a post from elsewhere is delivered on the next turn of the main
// loop. Removing any observer (or adding one) during a delivery is safe; a removed observer is
// not called again, even later in the same delivery.
class NotificationCenter
{
public:
    using Token = quint64;
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // observer identifies the owner for removeObserver(observer); an empty name observes every name.
    Token addObserver(const void* observer, const QString& name, Handler handler);
    void removeObserver(Token token);
    void removeObserver(const void* observer);                      // every registration of it
    void removeObserver(const void* observer, const QString& name); // one name of it

    void post(const QString& name, const QVariant& object = QVariant(), const QVariantMap& userInfo = {});
    void post(const Notification& n);

    int observerCount() const;

private:
    void deliver(const Notification& n);
    struct Entry
    {
        Token token;
        const void* observer;
        QString name;
        std::shared_ptr<Handler> handler;
    };
    mutable std::recursive_mutex m_mutex;
    std::vector<Entry> m_entries;
    Token m_next = 1;
};

} // namespace zrp
