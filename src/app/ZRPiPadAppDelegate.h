#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>

class QWidget;

// The application delegate: configures the process-wide facilities at launch, installs the hub
// as the window's root and hands platform events on to the hub and the stores.
class ZRPiPadAppDelegate : public QObject
{
    Q_OBJECT
public:
    explicit ZRPiPadAppDelegate(QObject* parent = nullptr);
    ~ZRPiPadAppDelegate() override;

    static ZRPiPadAppDelegate* sharedInstance(); // the one made at start-up, if any

    // The launch sequence; returns true. The window is the hub's view.
    bool didFinishLaunchingWithOptions();
    QWidget* window() const { return m_window; }

    double videoAdsThreshold() const { return m_videoAdsThreshold; }

private:
    QPointer<QWidget> m_window;
    double m_videoAdsThreshold = 0;
};
