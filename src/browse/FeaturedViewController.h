#pragma once

#include "app/SectionViewController.h"
#include "app/TabBarViewiPad.h"
#include "browse/PromoScrollView.h"
#include "browse/SegmentedEpisodeSliderView.h"
#include "catalog/VEXOClientAPI.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <optional>

class QLabel;

// The "Spotlight" section: a promo strip from the "ipad_spotlight" group and a thumbnail slider
// with the tabs "Previews" ("ipad_previews"), "Primetime" (the programs of "ipad_primetime")
// and, when any of those videos is about to expire, "Expiring Soon". The groups are asked for
// one after another; a failure stops the chain and tells the hub.
class FeaturedViewController : public SectionViewController, public VEXOClientAPIDelegate
{
    Q_OBJECT
public:
    static inline const QString kPreviewsGroup = QStringLiteral("ipad_previews");
    static inline const QString kSpotlightGroup = QStringLiteral("ipad_spotlight");
    static inline const QString kPrimetimeGroup = QStringLiteral("ipad_primetime");
    static inline const QString kPreviews = QStringLiteral("Previews");
    static inline const QString kPrimetime = QStringLiteral("Primetime");
    static inline const QString kExpiringSoon = QStringLiteral("Expiring Soon");
    static constexpr int kExpiringWithinDays = 4;

    explicit FeaturedViewController(QObject* parent = nullptr);
    ~FeaturedViewController() override;

    Kind kind() const override { return Kind::Featured; }

    // VEXOClientAPIDelegate
    void didFindResults(const QString& requestId, const VEXOResults& results) override;
    void didFail(const QString& requestId, const zrp::Error& error) override;

    // Takes one group in: the records of group G (a request id above).
    void loadData(const QList<VEXOEpisode>& records, const QString& group);
    // A tab of the visible tab bar was chosen.
    void selectedItemChanged(int index);

    VEXOClientAPI* vexoAPI() const { return m_vexoAPI; }
    const QList<VEXOEpisode>& zrpPicksEpisodes() const { return m_zrpPicksEpisodes; }
    const std::optional<QList<VEXOEpisode>>& previewEpisodes() const { return m_previewEpisodes; }
    const std::optional<QList<VEXOProgram>>& primeTimePrograms() const { return m_primeTimePrograms; }
    QList<VEXOEpisode> expiringSoonPrograms() const
    {
        return m_expiringSoonPrograms.value_or(QList<VEXOEpisode>());
    }
    QStringList defaultButtonNames() const { return m_defaultButtonNames; }
    QStringList extendedButtonNames() const { return m_extendedButtonNames; }
    TabBarViewiPad* defaultTabBarView() const { return m_defaultTabBarView; }
    TabBarViewiPad* extendedTabBarView() const { return m_extendedTabBarView; }
    PromoScrollView* promoScrollView() const { return m_promoScrollView; }
    SegmentedEpisodeSliderView* thumbnailSliderView() const { return m_thumbnailSliderView; }
    bool isObservingSliderTaps() const { return m_observing; }

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;
    void viewDidUnload() override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void requestGroup(const QString& group);
    void releaseClient();
    void hideLoading();
    void observeSliderTaps();
    void stopObservingSliderTaps();
    void promoTouched(int index);
    void layoutViews();

    QPointer<VEXOClientAPI> m_vexoAPI;
    QList<VEXOEpisode> m_zrpPicksEpisodes;
    std::optional<QList<VEXOEpisode>> m_previewEpisodes;
    std::optional<QList<VEXOProgram>> m_primeTimePrograms;
    std::optional<QList<VEXOEpisode>> m_expiringSoonPrograms;
    const QStringList m_defaultButtonNames{kPreviews, kPrimetime};
    const QStringList m_extendedButtonNames{kPreviews, kPrimetime, kExpiringSoon};

    QPointer<TabBarViewiPad> m_defaultTabBarView;
    QPointer<TabBarViewiPad> m_extendedTabBarView;
    QPointer<PromoScrollView> m_promoScrollView;
    QPointer<SegmentedEpisodeSliderView> m_thumbnailSliderView;
    QPointer<QLabel> m_sliderTopShade;
    bool m_observing = false;
};
