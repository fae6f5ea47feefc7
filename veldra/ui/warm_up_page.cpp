#include "veldra/ui/warm_up_page.h"

#include "qtkit/dialog_font.h"

namespace k5::veldra {

namespace {

constexpr int kTickMs = 1000;
constexpr int kTitleCellHeight = 17;
constexpr int kCountdownCellHeight = 40;

QString FromModel(const std::string& text) {
    return PageText(text);
}

}  // namespace

CWarmUpPage::CWarmUpPage(QWidget* parent) : WizardPage(parent) {
    const qtkit::DialogUnits units = WizardUnits(font());
    QLabel* title = AddStatic(this, units, QRect(5, 5, 300, 10), "warmUpTitle");
    title->setFont(qtkit::CellHeightFont(kTitleCellHeight, QFont::Bold));
    title->setText(PageText(kWarmUpTitle));

    progress_ = AddStatic(this, units, QRect(5, 20, 305, 35), "warmUpProgress");
    countdown_ = AddStatic(this, units, QRect(90, 70, 130, 20), "warmUpCountdown");
    countdown_->setFont(qtkit::CellHeightFont(kCountdownCellHeight, QFont::Bold));
    countdown_->setAlignment(Qt::AlignCenter);
    countdown_->setWordWrap(false);
    outcome_ = AddStatic(this, units, QRect(5, 105, 305, 30), "warmUpOutcome");

    // Precise timers: the countdown's ten minutes must not drift by the coarse timers' 5 %.
    dotsTimer_ = new QTimer(this);
    countdownTimer_ = new QTimer(this);
    for (QTimer* timer : {dotsTimer_, countdownTimer_}) {
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(kTickMs);
    }
    connect(dotsTimer_, &QTimer::timeout, this, &CWarmUpPage::OnDotsTick);
    connect(countdownTimer_, &QTimer::timeout, this, &CWarmUpPage::OnCountdownTick);
}

void CWarmUpPage::Enter() {
    model_.Show();
    FollowModel();
}

void CWarmUpPage::OnWarmUpEvent(uint32_t code) {
    model_.Apply(code);
    FollowModel();
}

void CWarmUpPage::OnDotsTick() {
    model_.TickDots();
    FollowModel();
}

void CWarmUpPage::OnCountdownTick() {
    if (model_.TickCountdown()) {
        countdownTimer_->stop();
        emit countdownFinished();
    }
    FollowModel();
}

// Texts and timers as the model has them. A running timer is left alone, so the countdown
// keeps its one-second rhythm across the texts' updates.
void CWarmUpPage::FollowModel() {
    progress_->setText(FromModel(model_.ProgressLine()));
    countdown_->setText(FromModel(model_.Countdown()));
    outcome_->setText(FromModel(model_.Outcome()));
    if (model_.DotsRunning() != dotsTimer_->isActive()) {
        model_.DotsRunning() ? dotsTimer_->start() : dotsTimer_->stop();
    }
    if (model_.CountdownRunning() != countdownTimer_->isActive()) {
        model_.CountdownRunning() ? countdownTimer_->start() : countdownTimer_->stop();
    }
}

}  // namespace k5::veldra
