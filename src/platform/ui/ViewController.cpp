#include "ViewController.h"

namespace zrp::ui {

ViewController::ViewController(QObject* parent) : QObject(parent) {}

ViewController::~ViewController()
{
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
