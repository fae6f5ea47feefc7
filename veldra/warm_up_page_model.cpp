#include "veldra/warm_up_page_model.h"

#include "veldra/event_codes.h"
#include "veldra/page_texts.h"

namespace k5::veldra {

void WarmUpPageModel::Show() {
    progress_ = kWarmUpInitializing;
    countdown_.clear();
    outcome_.clear();
    dots_ = 0;
    dotsRunning_ = true;
}

void WarmUpPageModel::Apply(uint32_t code) {
    switch (code) {
        case kWarmUpError:
        case kWarmUpCancelled:
            outcome_ = code == kWarmUpError ? kWarmUpErrorText : kWarmUpCancelledText;
            dotsRunning_ = false;
            countdownRunning_ = false;
            break;
        case kWarmUpRunning:
            dots_ = 0;
            dotsRunning_ = false;
            progress_ = kWarmUpInitializedText;
            minutes_ = countdownMinutes_;
            seconds_ = 0;
            countdownRunning_ = true;
            countdown_ = CountdownText(minutes_, seconds_);
            break;
        default:
            break;
    }
}

void WarmUpPageModel::TickDots() {
    if (!dotsRunning_) {
        return;
    }
    if (dots_ == kMaxDots) {
        dots_ = 0;
        progress_ = kWarmUpInitializing;
    } else {
        ++dots_;
        progress_ += '.';
    }
}

bool WarmUpPageModel::TickCountdown() {
    if (!countdownRunning_) {
        return false;
    }
    bool finished = false;
    if (seconds_ > 0) {
        --seconds_;
    } else if (minutes_ > 0) {
        --minutes_;
        seconds_ = 59;
    } else {
        finished = true;
        countdownRunning_ = false;
        outcome_ = kWarmUpAccomplishedText;
    }
    countdown_ = CountdownText(minutes_, seconds_);
    return finished;
}

}  // namespace k5::veldra
