#pragma once

#include <QString>
#include <memory>

class QMessageBox;
class QWidget;

namespace k5::qtkit {

enum class MessageIcon { None, Question, Exclamation };
enum class MessageButtons { Ok, YesNo, OkCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

// One modal message box: caption, text, icon and buttons.
struct MessageRequest {
    QString caption;
    QString text;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    // A question that comes unasked, perhaps while the user is typing into another program:
    // No is the default button and plain letter keys answer nothing, so that only a click,
    // Space on Yes or Alt+Y says Yes.
    bool unasked = false;
};

// The windows ask their questions and report their outcomes through this, so that a test can
// read what would be shown and answer it.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the box modally over `parent` and returns the button that closed it.
    virtual MessageAnswer Show(QWidget* parent, const MessageRequest& request) = 0;
    // The same box with a second, smaller text under its message (a file's path, say). Boxes
    // that have no place for it show the message alone.
    virtual MessageAnswer ShowWithDetail(QWidget* parent, const MessageRequest& request,
                                         const QString& informativeText) {
        (void)informativeText;
        return Show(parent, request);
    }
};

// The real boxes, built by BuildMessageBox.
class QtMessageBoxes : public MessageBoxes {
public:
    MessageAnswer Show(QWidget* parent, const MessageRequest& request) override;
    MessageAnswer ShowWithDetail(QWidget* parent, const MessageRequest& request,
                                 const QString& informativeText) override;
};

// The box as QtMessageBoxes shows it; Escape answers No on a question and Cancel on an
// OK/Cancel box. An unasked question keeps No as its default and ignores letter keys.
std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const MessageRequest& request,
                                             const QString& informativeText = {});

}  // namespace k5::qtkit
