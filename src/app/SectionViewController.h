#pragma once

#include "catalog/VEXOEpisode.h"
#include "catalog/VEXOProgram.h"
#include "ui/ViewController.h"

#include <optional>

// Base of the screens the hub shows one at a time in its content area.
class SectionViewController : public zrp::ui::ViewController
{
    Q_OBJECT
public:
    using zrp::ui::ViewController::ViewController;

    QString sectionTitle() const { return m_sectionTitle; }
    void setSectionTitle(const QString& t) { m_sectionTitle = t; }

    // The screen's kind, for the hub's reload rules.
    enum class Kind
    {
        Featured,
        ProgramList,
        Episode,
        Schedule,
        Other
    };
    virtual Kind kind() const { return Kind::Other; }

    // What an episode page shows: its episode, or its program when it shows no episode.
    virtual std::optional<VEXOEpisode> pageEpisode() const { return std::nullopt; }
    virtual std::optional<VEXOProgram> pageProgram() const { return std::nullopt; }

protected:
    QSize preferredViewSize() const override { return QSize(768, 948); }

private:
    QString m_sectionTitle;
};
