#pragma once

#include "SectionViewController.h"

// An honest stand-in page for a screen that this version does not have yet: it says so
// instead of pretending. Used as popover content and as a section.
class UnavailableViewController : public SectionViewController
{
    Q_OBJECT
public:
    UnavailableViewController(const QString& title, const QString& text, QSize size,
                              QObject* parent = nullptr);
    QString text() const { return m_text; }
    // The kind of screen it stands for, so the hub's reload rules treat it as that screen.
    Kind kind() const override { return m_kind; }
    void setKind(Kind kind) { m_kind = kind; }
    // The record of the page it stands for, so retrying and the buy sheet know what was asked.
    void setPageEpisode(const VEXOEpisode& e) { m_episode = e; }
    void setPageProgram(const VEXOProgram& p) { m_program = p; }
    std::optional<VEXOEpisode> pageEpisode() const override { return m_episode; }
    std::optional<VEXOProgram> pageProgram() const override { return m_program; }

protected:
    QWidget* loadView() override;

private:
    QString m_text;
    QSize m_size;
    Kind m_kind = Kind::Other;
    std::optional<VEXOEpisode> m_episode;
    std::optional<VEXOProgram> m_program;
};
