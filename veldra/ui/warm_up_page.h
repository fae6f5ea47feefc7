#pragma once

#include <QTimer>

#include "veldra/ui/wizard_page.h"
#include "veldra/warm_up_page_model.h"

namespace k5::veldra {

// Page 5: the growing "Initializing Warming up" line, then the ten-minute countdown and the
// outcome. When the countdown has shown 00 : 00 for one tick the page tells the frame, which
// starts the calibration before countdownFinished() returns.
class CWarmUpPage : public WizardPage {
    Q_OBJECT

public:
    explicit CWarmUpPage(QWidget* parent);

    void Enter() override;
    // A warm-up event forwarded by the frame (14, 15, 16).
    void OnWarmUpEvent(uint32_t code);
    // Shortens the countdown (tests, screenshots); the wizard counts ten minutes.
    void SetCountdownMinutes(int minutes) { model_.SetCountdownMinutes(minutes); }

    const WarmUpPageModel& Model() const { return model_; }
    bool CountdownTimerActive() const { return countdownTimer_->isActive(); }

signals:
    void countdownFinished();

private:
    void OnDotsTick();
    void OnCountdownTick();
    void FollowModel();

    WarmUpPageModel model_;
    QTimer* dotsTimer_ = nullptr;
    QTimer* countdownTimer_ = nullptr;
    QLabel* progress_ = nullptr;
    QLabel* countdown_ = nullptr;
    QLabel* outcome_ = nullptr;
};

}  // namespace k5::veldra
