#include "qtkit/message_boxes.h"

#include <QMessageBox>

namespace k5::qtkit {

namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const MessageRequest& request) {
    auto box = std::make_unique<QMessageBox>(ToQtIcon(request.icon), request.caption, request.text,
                                             QMessageBox::NoButton, parent);
    if (request.buttons == MessageButtons::YesNo) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::Yes);
        box->setEscapeButton(QMessageBox::No);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
    }
    return box;
}

MessageAnswer QtMessageBoxes::Show(QWidget* parent, const MessageRequest& request) {
    const std::unique_ptr<QMessageBox> box = BuildMessageBox(parent, request);
    const int pressed = box->exec();
    if (request.buttons == MessageButtons::Ok) {
        return MessageAnswer::Ok;
    }
    return pressed == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

}  // namespace k5::qtkit
