#include "BuyActionSheet.h"

#include "ContainerViewController.h"
#include "LinkAlertView.h"
#include "analytics/AnalyticsTracker.h"

BuyActionSheet* BuyActionSheet::actionSheetForLinks(const QMap<QString, QString>& links, QObject* parent)
{
    return new BuyActionSheet(links, parent);
}

BuyActionSheet::BuyActionSheet(const QMap<QString, QString>& links, QObject* parent)
    : ActionSheet(QStringLiteral("Buy"), parent), m_links(links)
{
    for (auto it = links.cbegin(); it != links.cend(); ++it)
        addButtonWithTitle(it.key());
    // A touch acts through the same path as a dismissal by code with a button index.
    connect(this, &ActionSheet::clickedButtonAtIndex, this, [this](int index) { actOnButton(index); });
}

void BuyActionSheet::dismissWithClickedButtonIndex(int index, bool animated)
{
    actOnButton(index);
    ActionSheet::dismissWithClickedButtonIndex(index, animated);
}

void BuyActionSheet::actOnButton(int index)
{
    if (index < 0 || index >= numberOfButtons())
        return;
    const QString title = buttonTitleAtIndex(index);
    const QUrl link(m_links.value(title));
    const QString programTitle = m_episode
                                     ? (m_episode->program() ? m_episode->program()->title() : QString())
                                     : (m_program ? m_program->title() : QString());
    QString label;
    if (m_episode)
        label = QStringLiteral("%1|%2").arg(programTitle, m_episode->title().value_or(QString()));
    else if (m_program)
        label = programTitle;

    const QString kind = m_episode ? QStringLiteral("episode") : QStringLiteral("program");
    QString action;
    if (title == VEXOEpisode::kITunesTitle) {
        LinkAlertView::alertViewWithLink(link)->show();
        action = kind + QStringLiteral("_itunes");
    } else if (title == VEXOEpisode::kDVDTitle || title == VEXOProgram::kShopTitle) {
        ContainerViewController::sharedInstance()->presentModalWebViewWithURL(link);
        action = kind + QStringLiteral("_shop_zrp");
    } else {
        return; // a title this version does not know only closes the sheet
    }
    if (m_episode || m_program)
        zrp::AnalyticsTracker::sharedInstance()->trackEvent(QStringLiteral("buy"), action, label, -1);
}
