#include <QFontMetrics>
#include <QIcon>
#include <QLabel>

#include "veldra/event_codes.h"
#include "veldra/ui/calibration_page.h"
#include "veldra/ui/detect_page.h"
#include "veldra/ui/warm_up_page.h"
#include "wizard_fixture.h"

namespace k5::veldra::test {

namespace {

// Every text of `page` fits the place its template gives it: no line cut off at the bottom,
// no single-line text cut at the side.
void ExpectTextsFit(const QWidget& page, const char* state) {
    for (const QLabel* label : page.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) {
            continue;
        }
        if (label->wordWrap()) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height())
                << state << ": " << label->objectName().toStdString();
        } else {
            const QFontMetrics metrics(label->font());
            EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width())
                << state << ": " << label->objectName().toStdString();
            EXPECT_LE(metrics.height(), label->height())
                << state << ": " << label->objectName().toStdString();
        }
    }
}

TEST_F(WizardTest, EveryPageTextFitsItsPlace) {
    MakeFrame();
    ExpectTextsFit(Frame(), "frame");
    for (unsigned page = 1; page <= 3; ++page) {
        ExpectTextsFit(*Frame().PageOnShow(), "introductory page");
        if (page < 3) {
            Click("nextButton");
        }
    }

    CDetectPage& detect = *Frame().DetectPage();
    for (uint32_t code = kDetectOpenFailed; code <= kDetectNoneFound; ++code) {
        detect.Enter();
        detect.ShowDetectResult(code, 15);
        ExpectTextsFit(detect, "detection");
    }

    CWarmUpPage& warmUp = *Frame().WarmUpPage();
    for (const uint32_t outcome : {kWarmUpError, kWarmUpCancelled}) {
        warmUp.Enter();
        warmUp.OnWarmUpEvent(kWarmUpRunning);
        warmUp.OnWarmUpEvent(outcome);
        ExpectTextsFit(warmUp, "warm-up");
    }

    // The longest logs: a run that fails at its last step, and a complete one.
    CCalibrationPage& calibration = *Frame().CalibrationPage();
    for (const uint32_t last : {kCalibReadBackMismatch, kCalibPowerOffFailed}) {
        calibration.Enter();
        for (const uint32_t code :
             {kCalibInitializing, kCalibStepOk, kCalibMeasuring, kCalibStepOk, kCalibCalculating,
              kCalibStepOk, kCalibConfiguring, kCalibStepOk, kCalibVerifying}) {
            calibration.ShowCalibProgress(code);
        }
        if (last == kCalibPowerOffFailed) {
            calibration.ShowCalibProgress(kCalibStepOk);
            calibration.ShowCalibProgress(kCalibPoweringOff);
        }
        calibration.ShowCalibProgress(last);
        ExpectTextsFit(calibration, "calibration");
    }
}

TEST_F(WizardTest, FrameCarriesItsIconFilesAtEverySize) {
    MakeFrame();
    const QIcon icon = Frame().windowIcon();
    for (const int side : {16, 32, 48}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(side, side))) << side;
        EXPECT_FALSE(icon.pixmap(side).isNull()) << side;
    }
}

}  // namespace

}  // namespace k5::veldra::test
