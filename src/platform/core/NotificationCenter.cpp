#include "NotificationCenter.h"

#include "RunLoop.h"

#include <QCoreApplication>

namespace zrp {

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

NotificationCenter::Token NotificationCenter::addObserver(const void* observer, const QString& name,
                                                          Handler handler)
{
    std::lock_guard lock(m_mutex);
    const Token t = m_next++;
    m_entries.push_back({t, observer, name, std::make_shared<Handler>(std::move(handler))});
    return t;
}

void NotificationCenter::removeObserver(Token token)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [&](const Entry& e) { return e.token == token; });
}

void NotificationCenter::removeObserver(const void* observer)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [&](const Entry& e) { return e.observer == observer; });
}

void NotificationCenter::removeObserver(const void* observer, const QString& name)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [&](const Entry& e) { return e.observer == observer && e.name == name; });
}

int NotificationCenter::observerCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_entries.size());
}

void NotificationCenter::post(const QString& name, const QVariant& object, const QVariantMap& userInfo)
{
    post(Notification{name, object, userInfo});
}

void NotificationCenter::post(const Notification& n)
{
    if (RunLoop::isMainThread() || !QCoreApplication::instance())
        deliver(n);
    else
        RunLoop::post([this, n] { deliver(n); });
}

void NotificationCenter::deliver(const Notification& n)
{
    // Snapshot the tokens that match now; each is looked up again before its call so that an
    // observer removed by an earlier handler is not called.
    std::vector<Token> tokens;
    {
        std::lock_guard lock(m_mutex);
        for (const Entry& e : m_entries)
            if (e.name.isEmpty() || e.name == n.name)
                tokens.push_back(e.token);
    }
    for (Token t : tokens) {
        std::shared_ptr<Handler> h;
        {
            std::lock_guard lock(m_mutex);
            for (const Entry& e : m_entries)
                if (e.token == t) {
                    h = e.handler;
                    break;
                }
        }
        if (h)
            (*h)(n);
    }
}

} // namespace zrp
