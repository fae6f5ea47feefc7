// A question that comes unasked (Alt+D pressed in another program) must not be answered Yes
// by the typing that was meant for that program.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

#include "qtkit/message_boxes.h"

namespace k5::torvik::test {
namespace {

QMessageBox::StandardButton Answer(bool unasked, const std::vector<Qt::Key>& keys) {
    const auto box = qtkit::BuildMessageBox(
        nullptr, {"Note", "Set AMP registers to default values?", qtkit::MessageIcon::Question,
                  qtkit::MessageButtons::YesNo, unasked});
    box->open();
    if (!QTest::qWaitForWindowExposed(box.get())) {
        return QMessageBox::NoButton;
    }
    for (const Qt::Key key : keys) {
        // Typed keys go to the focused button first and reach the box when it ignores them.
        QWidget* target = box->focusWidget() != nullptr ? box->focusWidget() : box.get();
        QTest::keyClick(target, key);
        // A button answers after its click animation.
        if (QTest::qWaitFor([&] { return box->clickedButton() != nullptr; }, 500)) {
            break;
        }
    }
    return box->clickedButton() != nullptr ? box->standardButton(box->clickedButton())
                                           : QMessageBox::NoButton;
}

TEST(UnaskedQuestion, TypingMeantForAnotherProgramNeverAnswersYes) {
    const struct {
        const char* name;
        bool unasked;
        std::vector<Qt::Key> keys;
        QMessageBox::StandardButton answer;
    } cases[] = {
        {"asked: Enter is Yes", false, {Qt::Key_Return}, QMessageBox::Yes},
        {"asked: Y is Yes", false, {Qt::Key_Y}, QMessageBox::Yes},
        {"unasked: Enter is No", true, {Qt::Key_Return}, QMessageBox::No},
        {"unasked: Y then Enter is No", true, {Qt::Key_Y, Qt::Key_Return}, QMessageBox::No},
        {"unasked: Escape is No", true, {Qt::Key_Escape}, QMessageBox::No},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Answer(c.unasked, c.keys), c.answer) << c.name;
    }
}

}  // namespace
}  // namespace k5::torvik::test
