#include "LinkAlertView.h"

#include "ui/Kit.h"

LinkAlertView* LinkAlertView::alertViewWithLink(const QUrl& link, QObject* parent)
{
    return new LinkAlertView(link, parent);
}

LinkAlertView::LinkAlertView(const QUrl& link, QObject* parent)
    : AlertView(QStringLiteral("This action will close ZRP for iPad and open the iTunes Store"),
                QStringLiteral("Do you want to continue?"), QStringLiteral("Cancel"), {QStringLiteral("OK")},
                parent),
      m_goToLink(link)
{
    connect(this, &AlertView::clickedButtonAtIndex, this, [this](int index) {
        if (index == 1)
            zrp::ui::openExternalUrlOrTell(m_goToLink);
    });
}
