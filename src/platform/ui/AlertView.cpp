#include "AlertView.h"

#include "Kit.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zrp::ui {

namespace {
QList<QPointer<AlertView>>& registry()
{
    static QList<QPointer<AlertView>> list;
    return list;
}

// The dimmed layer over the window that holds the alert box and takes the keys.
class AlertOverlay : public QWidget
{
public:
    AlertOverlay(QWidget* parent, AlertView* alert) : QWidget(parent), m_alert(alert)
    {
        setProperty("zrpOverlay", true);
        setAttribute(Qt::WA_StyledBackground, true);
        // Scoped to the layer itself: an unscoped rule would paint every label and button of the
        // box with the same dim.
        setObjectName(QStringLiteral("AlertView"));
        setStyleSheet(QStringLiteral("#AlertView { background-color: rgba(0, 0, 0, 110); }"));
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        if (!m_alert)
            return;
        if (e->key() == Qt::Key_Escape && m_alert->cancelButtonIndex() >= 0) {
            m_alert->clickButtonAtIndex(m_alert->cancelButtonIndex());
            return;
        }
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
            // Enter takes the last button: the affirmative one by convention.
            m_alert->clickButtonAtIndex(m_alert->numberOfButtons() - 1);
            return;
        }
        QWidget::keyPressEvent(e);
    }
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::ParentChange || e->type() == QEvent::Show)
            if (parentWidget())
                setGeometry(parentWidget()->rect());
        return QWidget::event(e);
    }

private:
    QPointer<AlertView> m_alert;
};
} // namespace

AlertView::AlertView(const QString& title, const QString& message, const QString& cancelButtonTitle,
                     const QStringList& otherButtonTitles, QObject* parent)
    : QObject(parent), m_title(title), m_message(message)
{
    if (!cancelButtonTitle.isEmpty()) {
        m_buttons << cancelButtonTitle;
        m_cancelIndex = 0;
    }
    m_buttons << otherButtonTitles;
}

AlertView::~AlertView()
{
    dropOverlay();
}

void AlertView::dropOverlay()
{
    if (!m_overlay)
        return;
    m_overlay->disconnect(this); // a deliberate drop is not a window going away
    delete m_overlay.data();
}

int AlertView::addButtonWithTitle(const QString& title)
{
    m_buttons << title;
    return int(m_buttons.size()) - 1;
}

QList<AlertView*> AlertView::visibleAlerts()
{
    QList<AlertView*> out;
    for (const auto& a : registry())
        if (a && a->isVisible())
            out << a.data();
    return out;
}

bool AlertView::isVisible() const
{
    return m_overlay && m_overlay->isVisible();
}

void AlertView::build(QWidget* window)
{
    auto* overlay = new AlertOverlay(window, this);
    // A window torn down under an alert takes the alert's widgets with it; an alert that owns
    // itself then has nobody left to dismiss it, so it goes too.
    connect(overlay, &QObject::destroyed, this, [this] {
        if (!parent())
            deleteLater();
    });
    overlay->setObjectName(QStringLiteral("AlertView"));
    overlay->setAccessibleName(m_title);
    overlay->setGeometry(window->rect());
    auto* outer = new QVBoxLayout(overlay);
    outer->setAlignment(Qt::AlignCenter);

    auto* box = new QWidget(overlay);
    box->setObjectName(QStringLiteral("AlertBox"));
    box->setAttribute(Qt::WA_StyledBackground, true);
    box->setStyleSheet(
        QStringLiteral("#AlertBox { background-color: %1; border: 1px solid %2; border-radius: 12px; }")
            .arg(Theme::surfaceRaised.name(), Theme::separator.name()));
    box->setFixedWidth(320);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(18, 18, 18, 14);
    column->setSpacing(10);
    if (!m_title.isEmpty()) {
        auto* t = new QLabel(m_title, box);
        t->setObjectName(QStringLiteral("AlertTitle"));
        // Texts come from services and links: shown as they are, never read as markup.
        t->setTextFormat(Qt::PlainText);
        t->setWordWrap(true);
        t->setAlignment(Qt::AlignCenter);
        t->setFont(Theme::font(17, true));
        column->addWidget(t);
    }
    if (!m_message.isEmpty()) {
        auto* m = new QLabel(m_message, box);
        m->setObjectName(QStringLiteral("AlertMessage"));
        m->setTextFormat(Qt::PlainText);
        m->setWordWrap(true);
        m->setAlignment(Qt::AlignCenter);
        m->setFont(Theme::font(14));
        m->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::secondaryText.name()));
        column->addWidget(m);
    }
    // Two buttons sit side by side; more stack up.
    QBoxLayout* buttons = m_buttons.size() == 2 ? static_cast<QBoxLayout*>(new QHBoxLayout)
                                                : static_cast<QBoxLayout*>(new QVBoxLayout);
    buttons->setSpacing(8);
    for (int i = 0; i < m_buttons.size(); ++i) {
        auto* b = new QPushButton(m_buttons[i], box);
        b->setObjectName(QStringLiteral("AlertButton%1").arg(i));
        b->setAccessibleName(m_buttons[i]);
        b->setMinimumHeight(Theme::minimumTouchTarget);
        if (i != m_cancelIndex)
            b->setStyleSheet(QStringLiteral("font-weight: bold;"));
        connect(b, &QPushButton::clicked, this, [this, i] { clickButtonAtIndex(i); });
        buttons->addWidget(b);
    }
    column->addLayout(buttons);
    outer->addWidget(box);
    m_overlay = overlay;
}

void AlertView::show()
{
    QWidget* window = mainWindow();
    if (!window)
        window = QApplication::activeWindow();
    if (!window) {
        qWarning("AlertView: no window to show \"%s\" in", qPrintable(m_title));
        // Nobody will dismiss it, so an alert that owns itself goes now.
        if (!parent())
            deleteLater();
        return;
    }
    if (!m_overlay || m_overlay->parentWidget() != window) {
        dropOverlay();
        build(window);
    }
    registry().removeAll(nullptr);
    registry().removeAll(QPointer<AlertView>(this));
    registry().append(this);
    m_overlay->setGeometry(window->rect());
    m_overlay->show();
    m_overlay->raise();
    m_overlay->setFocus();
}

void AlertView::dismissWithClickedButtonIndex(int index, bool)
{
    finish(index, false);
}

void AlertView::clickButtonAtIndex(int index)
{
    if (index < 0 || index >= m_buttons.size())
        return;
    finish(index, true);
}

void AlertView::finish(int index, bool clicked)
{
    if (!isVisible())
        return;
    // Hidden before anyone is told, so a handler may show this same alert again at once.
    m_overlay->hide();
    registry().removeAll(QPointer<AlertView>(this));
    QPointer<AlertView> self(this);
    if (clicked)
        emit clickedButtonAtIndex(index);
    if (self)
        emit didDismissWithButtonIndex(index);
    if (self && !parent() && !isVisible())
        deleteLater();
}

bool openExternalUrlOrTell(const QUrl& url)
{
    if (openExternalUrl(url))
        return true;
    auto* alert = new AlertView(QStringLiteral("Can't Open Link"),
                                QStringLiteral("ZRP could not open %1").arg(url.toDisplayString()),
                                QStringLiteral("OK"), {});
    alert->show();
    return false;
}

} // namespace zrp::ui
