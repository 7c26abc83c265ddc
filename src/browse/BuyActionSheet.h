#pragma once

#include "catalog/VEXOEpisode.h"
#include "catalog/VEXOProgram.h"
#include "ui/ActionSheet.h"

#include <QMap>
#include <optional>

// The "Buy" sheet: one button per buy link of an episode or a program. A choice opens the link
// where it belongs (the store behind a question, shops in the app's web panel) and is recorded.
class BuyActionSheet : public zrp::ui::ActionSheet
{
    Q_OBJECT
public:
    static BuyActionSheet* actionSheetForLinks(const QMap<QString, QString>& links,
                                               QObject* parent = nullptr);

    const QMap<QString, QString>& links() const { return m_links; }
    void setEpisode(const VEXOEpisode& episode) { m_episode = episode; }
    void setProgram(const VEXOProgram& program) { m_program = program; }
    const std::optional<VEXOEpisode>& episode() const { return m_episode; }
    const std::optional<VEXOProgram>& program() const { return m_program; }

    // Acts on the chosen link, then closes; an index outside the buttons only closes.
    void dismissWithClickedButtonIndex(int index, bool animated);

private:
    BuyActionSheet(const QMap<QString, QString>& links, QObject* parent);
    void actOnButton(int index);

    QMap<QString, QString> m_links;
    std::optional<VEXOEpisode> m_episode;
    std::optional<VEXOProgram> m_program;
};
