#include "ViewController.h"

#include <QEvent>
#include <QPainter>

namespace zrp::ui {

ViewController::ViewController(QObject* parent) : QObject(parent) {}

namespace {
// Dims what lies below and keeps the modal screen centred as the presenter resizes.
class ModalBackdrop : public QWidget
{
public:
    ModalBackdrop(QWidget* presenter, QWidget* content) : QWidget(presenter), m_content(content)
    {
        setObjectName(QStringLiteral("ModalBackdrop"));
        setProperty("zrpOverlay", true);
        setAttribute(Qt::WA_NoMousePropagation);
        content->setParent(this);
        presenter->installEventFilter(this);
        fit();
    }

    void fit()
    {
        setGeometry(parentWidget()->rect());
        if (m_content)
            m_content->move((width() - m_content->width()) / 2, (height() - m_content->height()) / 2);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == parentWidget() && event->type() == QEvent::Resize)
            fit();
        return false;
    }
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(0, 0, 0, 150)); }

private:
    QPointer<QWidget> m_content;
};
} // namespace

void ViewController::presentModalViewController(ViewController* modal, bool animated)
{
    if (!modal || m_modal)
        return;
    m_modal = modal;
    QWidget* content = modal->view();
    modal->willAppear(animated);
    auto* backdrop = new ModalBackdrop(view(), content);
    m_modalBackdrop = backdrop;
    backdrop->show();
    backdrop->raise();
    content->show();
    content->setFocus(Qt::OtherFocusReason);
    modal->didAppear(animated);
}

void ViewController::dismissModalViewControllerAnimated(bool animated)
{
    QPointer<ViewController> modal = m_modal;
    m_modal = nullptr;
    if (modal) {
        modal->willDisappear(animated);
        // The screen's view leaves with the backdrop; its controller builds it again if needed.
        if (modal->isViewLoaded())
            modal->view()->hide();
        modal->didDisappear(animated);
        modal->unloadView();
    }
    delete m_modalBackdrop.data();
    m_modalBackdrop = nullptr;
}

ViewController::~ViewController()
{
    delete m_modalBackdrop.data();
    // A view still shown somewhere goes with its controller.
    if (m_view)
        delete m_view.data();
}

QWidget* ViewController::view()
{
    if (!m_view) {
        m_view = loadView();
        if (m_view->objectName().isEmpty())
            m_view->setObjectName(QString::fromLatin1(metaObject()->className()));
        viewDidLoad();
    }
    return m_view;
}

QWidget* ViewController::loadView()
{
    auto* w = new QWidget();
    w->resize(preferredViewSize());
    return w;
}

void ViewController::unloadView()
{
    if (!m_view)
        return;
    delete m_view.data();
    m_view = nullptr;
    m_appeared = false;
    viewDidUnload();
}

void ViewController::setTitle(const QString& title)
{
    if (m_title == title)
        return;
    m_title = title;
    emit titleChanged(title);
}

void ViewController::willAppear(bool animated)
{
    viewWillAppear(animated);
}

void ViewController::didAppear(bool animated)
{
    m_appeared = true;
    viewDidAppear(animated);
}

void ViewController::willDisappear(bool animated)
{
    viewWillDisappear(animated);
}

void ViewController::didDisappear(bool animated)
{
    m_appeared = false;
    viewDidDisappear(animated);
}

} // namespace zrp::ui
