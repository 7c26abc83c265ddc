#pragma once

#include <QPointer>
#include <QWidget>

namespace zrp::ui {

class ActivityIndicatorView;

// The "Loading" overlay: 200 x 200 points, centred in its parent, half-transparent, with a
// spinner. Touches under it are held back while it is shown.
class LoadingOverlay : public QWidget
{
    Q_OBJECT
public:
    explicit LoadingOverlay(QWidget* parent, const QString& label = QStringLiteral("Loading"));
    ~LoadingOverlay() override;

    void show(bool animated);
    void hide(bool animated);
    bool isShowing() const { return isVisible(); }
    QString labelText() const { return m_label; }
    int spinnerStep() const;

protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void recentre();
    QString m_label;
    ActivityIndicatorView* m_spinner = nullptr;
};

} // namespace zrp::ui
