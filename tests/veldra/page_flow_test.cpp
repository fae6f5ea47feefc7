// The wizard's page flow: which page follows which, the buttons each step leaves and the
// worker it starts.
#include "veldra/page_flow.h"

#include <gtest/gtest.h>

#include "veldra/frame_reaction.h"

namespace k5::veldra {

void PrintTo(const NextStep& s, std::ostream* out) {
    *out << "page " << s.page << " buttons " << (s.buttons ? *s.buttons : -1) << " take "
         << s.takeSelectedPort << " worker " << static_cast<int>(s.worker);
}

namespace {

constexpr int kAll = kButtonPrevious | kButtonNext | kButtonExit;

TEST(PageFlow, NextLeadsThroughDetectionToTheWarmUpOrTheCalibration) {
    struct Case {
        unsigned from;
        bool warmedUp;
        NextStep step;
    };
    const Case cases[] = {
        {kPageWelcome, false, {kPagePreparation, std::nullopt, false, WizardWorker::None}},
        {kPagePreparation, true, {kPagePortSelection, std::nullopt, false, WizardWorker::None}},
        {kPagePortSelection, false, {kPageDetection, kButtonExit, true, WizardWorker::Detection}},
        {kPagePortSelection, true, {kPageDetection, kButtonExit, true, WizardWorker::Detection}},
        {kPageDetection, false, {kPageWarmUp, 0, false, WizardWorker::WarmUp}},
        {kPageDetection, true, {kPageCalibration, kButtonExit, false, WizardWorker::Calibration}},
        // After a cancelled warm-up (which sets the warmed-up flag) the page stays the warm-up.
        {kPageWarmUp, true, {kPageCalibration, kButtonExit, false, WizardWorker::Calibration}},
        {kPageWarmUp, false, {kPageWarmUp, 0, false, WizardWorker::WarmUp}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "from " << c.from << " warmed up " << c.warmedUp);
        EXPECT_EQ(NextFrom(c.from, c.warmedUp), c.step);
    }
}

TEST(PageFlow, PreviousFromTheWorkersPagesGoesBackToThePreparation) {
    const std::pair<unsigned, unsigned> cases[] = {
        {kPagePreparation, kPageWelcome},     {kPagePortSelection, kPagePreparation},
        {kPageDetection, kPagePortSelection}, {kPageWarmUp, kPagePreparation},
        {kPageCalibration, kPagePreparation},
    };
    for (const auto& [from, to] : cases) {
        EXPECT_EQ(PreviousFrom(from), to) << "from " << from;
    }
}

TEST(PageFlow, TheEndPagesPinTheCurrentPageAndLimitTheButtons) {
    struct Case {
        unsigned index;
        unsigned current;
        ShownPage shown;
    };
    const Case cases[] = {
        {0, 1, {kPageWelcome, kButtonNext | kButtonExit}},
        {kPageWelcome, 0, {kPageWelcome, kButtonNext | kButtonExit}},
        {kPagePortSelection, kPagePortSelection, {kPagePortSelection, kAll}},
        {kPageWarmUp, kPageDetection, {kPageDetection, kAll}},  // in between, the caller's stands
        {kPageCalibration, kPageWarmUp, {kPageCalibration, kButtonPrevious | kButtonExit}},
        {kPageCalibration + 1,
         kPageCalibration + 1,
         {kPageCalibration, kButtonPrevious | kButtonExit}},
    };
    for (const Case& c : cases) {
        const ShownPage shown = ShowingPage(c.index, c.current);
        EXPECT_EQ(shown.current, c.shown.current) << "page " << c.index;
        EXPECT_EQ(shown.buttons, c.shown.buttons) << "page " << c.index;
    }
}

}  // namespace
}  // namespace k5::veldra
