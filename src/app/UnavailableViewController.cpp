#include "UnavailableViewController.h"

#include "ui/Kit.h"

#include <QLabel>
#include <QVBoxLayout>

UnavailableViewController::UnavailableViewController(const QString& title, const QString& text, QSize size,
                                                     QObject* parent)
    : SectionViewController(parent), m_text(text), m_size(size)
{
    setTitle(title);
    setContentSizeForViewInPopover(size);
}

QWidget* UnavailableViewController::loadView()
{
    auto* v = new QWidget();
    v->setObjectName(QStringLiteral("UnavailablePage"));
    v->resize(m_size);
    auto* column = new QVBoxLayout(v);
    column->setContentsMargins(24, 24, 24, 24);
    column->addStretch();
    auto* heading = new QLabel(title(), v);
    heading->setAlignment(Qt::AlignCenter);
    heading->setWordWrap(true);
    heading->setFont(zrp::ui::Theme::font(20, true));
    auto* body = new QLabel(m_text, v);
    body->setObjectName(QStringLiteral("UnavailableText"));
    body->setAlignment(Qt::AlignCenter);
    body->setWordWrap(true);
    body->setFont(zrp::ui::Theme::font(15));
    body->setStyleSheet(QStringLiteral("color: %1;").arg(zrp::ui::Theme::secondaryText.name()));
    column->addWidget(heading);
    column->addSpacing(8);
    column->addWidget(body);
    column->addStretch();
    return v;
}
