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

protected:
    QWidget* loadView() override;

private:
    QString m_text;
    QSize m_size;
    Kind m_kind = Kind::Other;
};
