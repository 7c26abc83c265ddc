#pragma once

#include "SectionViewController.h"
#include "browse/BuyActionSheet.h"
#include "browse/ModalWebViewController.h"
#include "core/Clock.h"
#include "net/Reachability.h"
#include "notify/PushClient.h"
#include "ui/ActionSheet.h"
#include "ui/AlertView.h"
#include "ui/ViewController.h"

#include <QMap>
#include <QPointer>
#include <QRect>
#include <memory>

class QLabel;
class QPushButton;
class VEXOEpisode;
class VEXOProgram;

namespace zrp {
struct ShareItem;
namespace ui {
class LoadingOverlay;
class PopoverController;
class RemoteImageView;
} // namespace ui
} // namespace zrp

// The single full-screen controller and the hub through which every screen is reached: the
// top bar, the navigation bar, one section at a time in the content area, the four exclusive
// popovers, the loading overlay, the failure and connection alerts and the splash.
class ContainerViewController : public zrp::ui::ViewController,
                                public ModalWebViewDelegate,
                                public PushClientDelegate
{
    Q_OBJECT
public:
    static ContainerViewController* sharedInstance();
    static void resetSharedInstance(); // tests and resetViews

    // Section entry points.
    void loadFeatured();
    void popupPrograms();
    void searchProgramsAction();
    void loadProgramList(bool searchEnabled);
    void loadSchedule(QObject* sender);
    void loadProgram(const VEXOProgram& program);
    void loadEpisode(const VEXOEpisode& episode);
    // A section that could not load its data; the alert comes 3 s later if it is still shown.
    void loadFailed(SectionViewController* section);

    // Popovers (toggles; mutually exclusive).
    void popupFavorites(QWidget* sender);
    void popupProfile(QWidget* sender);
    void popupInfo(QWidget* sender);
    void popupSettings(QWidget* sender);
    void dismissPopovers();
    zrp::ui::PopoverController* favoritesPopoverController() const { return m_favoritesPopover; }
    zrp::ui::PopoverController* profilePopoverController() const { return m_profilePopover; }
    zrp::ui::PopoverController* infoPopoverController() const { return m_infoPopover; }
    zrp::ui::PopoverController* settingsPopoverController() const { return m_settingsPopover; }

    void supportZRP();
    QUrl supportURL() const;
    void updateStationImage();

    zrp::ui::LoadingOverlay* loadingView() const { return m_loadingView; }
    SectionViewController* activeController() const { return m_active; }
    QWidget* sectionView() const { return m_sectionView; }
    QLabel* sectionLabel() const { return m_sectionLabel; }
    QPushButton* featuredButton() const { return m_featuredButton; }
    QPushButton* programsButton() const { return m_programsButton; }
    QPushButton* scheduleButton() const { return m_scheduleButton; }
    QPushButton* favoritesButton() const { return m_favoritesButton; }
    QPushButton* profileButton() const { return m_profileButton; }
    QPushButton* infoButton() const { return m_infoButton; }
    QPushButton* supportButton() const { return m_supportButton; }
    QPushButton* settingsButton() const { return m_settingsButton; }
    QPushButton* stationButton() const { return m_stationButton; }
    zrp::ui::AlertView* reachabilityAlert() const { return m_reachabilityAlert; }
    bool hasPendingFailureAlert() const { return bool(m_communicationFailedTimer); }

    void setVideoPlayerPresented(bool presented) { m_videoPlayerPresented = presented; }
    bool videoPlayerPresented() const { return m_videoPlayerPresented; }

    // Share and buy sheets, from a rectangle in the content area.
    void shareItem(const zrp::ShareItem& item, const QRect& fromRect);
    void popupBuyLinks(const QMap<QString, QString>& links, const QRect& fromRect);
    zrp::ui::ActionSheet* shareActionSheet() const { return m_shareActionSheet; }
    BuyActionSheet* buyActionSheet() const { return m_buyActionSheet; }
    // The "share" event's action for an item's kind and the service picked; empty when the
    // pair has none.
    static QString shareEventAction(const QString& shareTypeEvent, const QString& service);

    // The in-app web page (shops, DVD links).
    void presentModalWebViewWithURL(const QUrl& url);
    void closeModalWebView(QObject* sender) override;
    ModalWebViewController* modalWebView() const { return m_modalWebView; }

    // Push messages, hub side: one registration and one fetch at a time; a failure is retried
    // when the connection next changes.
    void registerDevice(const QByteArray& deviceToken);
    void setRegisterDeviceFailed(bool failed) { m_registerDeviceFailed = failed; }
    void getNewNotifications();
    void registerDeviceSucceeded() override;
    void registerDeviceFailed(const zrp::Error& error) override;
    void getNewNotificationsSucceeded(const QList<PushNotification>& notifications) override;
    void getNewNotificationsFailed(const zrp::Error& error) override;
    PushClient* pushClient() const { return m_pushClient; }
    bool isRegisteringDevice() const { return m_registeringDevice; }
    bool registerDeviceHasFailed() const { return m_registerDeviceFailed; }
    bool isGettingNotifications() const { return m_gettingNotifications; }
    bool getNotificationsHasFailed() const { return m_getNotificationsFailed; }

    void hideShareKitViews();
    void hideFacebookModal();
    void showSplashImage();
    void hideSplashImage();
    bool isSplashShown() const { return !m_splashImage.isNull(); }
    void cleanupViews();

    void setReachability(zrp::Reachability* r) { m_reachabilityOverride = r; } // tests
    bool isConnectedToInternet() const;

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

private:
    ContainerViewController();
    ~ContainerViewController() override;

    void loadSection(SectionViewController* section);
    void finishLoadSection(SectionViewController* section);
    void setSectionButtons(QPushButton* chosen);
    void showLoadFailedAlert();
    void connectivityChanged();
    void showConnectionAlert(int tag);
    void togglePopover(zrp::ui::PopoverController*& popover, std::function<zrp::ui::ViewController*()> make,
                       QWidget* sender);
    zrp::Reachability* reachability() const;

    QPointer<SectionViewController> m_active;
    QWidget* m_sectionView = nullptr;
    QLabel* m_sectionLabel = nullptr;
    QPushButton* m_featuredButton = nullptr;
    QPushButton* m_programsButton = nullptr;
    QPushButton* m_searchButton = nullptr;
    QPushButton* m_scheduleButton = nullptr;
    QPushButton* m_favoritesButton = nullptr;
    QPushButton* m_profileButton = nullptr;
    QPushButton* m_infoButton = nullptr;
    QPushButton* m_supportButton = nullptr;
    QPushButton* m_settingsButton = nullptr;
    QPushButton* m_stationButton = nullptr;
    zrp::ui::RemoteImageView* m_stationImage = nullptr;
    QWidget* m_topView = nullptr;
    QWidget* m_navigationView = nullptr;

    zrp::ui::PopoverController* m_favoritesPopover = nullptr;
    zrp::ui::PopoverController* m_profilePopover = nullptr;
    zrp::ui::PopoverController* m_infoPopover = nullptr;
    zrp::ui::PopoverController* m_settingsPopover = nullptr;

    zrp::ui::LoadingOverlay* m_loadingView = nullptr;
    std::shared_ptr<zrp::Timer> m_communicationFailedTimer;
    QPointer<SectionViewController> m_reloadObject;

    QPointer<zrp::Reachability> m_reachabilityOverride;
    QPointer<zrp::ui::AlertView> m_reachabilityAlert;
    QPointer<QWidget> m_splashImage;
    QPointer<zrp::ui::ActionSheet> m_shareActionSheet;
    QPointer<BuyActionSheet> m_buyActionSheet;
    QPointer<ModalWebViewController> m_modalWebView;
    bool m_videoPlayerPresented = false;
    QPointer<PushClient> m_pushClient;
    bool m_registeringDevice = false;
    bool m_registerDeviceFailed = false;
    bool m_gettingNotifications = false;
    bool m_getNotificationsFailed = false;
    bool m_observing = false;
};
