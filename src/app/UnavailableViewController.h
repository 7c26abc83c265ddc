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

protected:
    QWidget* loadView() override;

private:
    QString m_text;
    QSize m_size;
};
