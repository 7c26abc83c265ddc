#pragma once

#include "ui/AlertView.h"

#include <QUrl>

// Asks before the viewer is sent out of the app to the store, and opens the link on "OK".
class LinkAlertView : public zrp::ui::AlertView
{
    Q_OBJECT
public:
    static LinkAlertView* alertViewWithLink(const QUrl& link, QObject* parent = nullptr);
    QUrl goToLink() const { return m_goToLink; }

private:
    LinkAlertView(const QUrl& link, QObject* parent);
    QUrl m_goToLink;
};
