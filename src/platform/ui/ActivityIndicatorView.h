#pragma once

#include "core/Clock.h"

#include <QWidget>
#include <memory>

namespace zrp::ui {

// The large spinner shown in the middle of a panel while its content loads.
class ActivityIndicatorView : public QWidget
{
    Q_OBJECT
public:
    explicit ActivityIndicatorView(QWidget* parent = nullptr);
    ~ActivityIndicatorView() override;

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return bool(m_spin); }
    int step() const { return m_step; } // which spoke is brightest, 0..11
    void setHidesWhenStopped(bool hides);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int m_step = 0;
    bool m_hidesWhenStopped = true;
    std::shared_ptr<zrp::Timer> m_spin;
};

} // namespace zrp::ui
