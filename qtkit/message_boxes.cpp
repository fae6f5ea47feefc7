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

std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const MessageRequest& request,
                                             const QString& informativeText) {
    auto box = std::make_unique<QMessageBox>(ToQtIcon(request.icon), request.caption, request.text,
                                             QMessageBox::NoButton, parent);
    if (!informativeText.isEmpty()) {
        box->setInformativeText(informativeText);
    }
    if (request.buttons == MessageButtons::YesNo) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::Yes);
        box->setEscapeButton(QMessageBox::No);
    } else if (request.buttons == MessageButtons::OkCancel) {
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box->setDefaultButton(QMessageBox::Ok);
        box->setEscapeButton(QMessageBox::Cancel);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
    }
    return box;
}

MessageAnswer QtMessageBoxes::Show(QWidget* parent, const MessageRequest& request) {
    return ShowWithDetail(parent, request, QString());
}

MessageAnswer QtMessageBoxes::ShowWithDetail(QWidget* parent, const MessageRequest& request,
                                             const QString& informativeText) {
    const std::unique_ptr<QMessageBox> box = BuildMessageBox(parent, request, informativeText);
    const int pressed = box->exec();
    switch (request.buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::OkCancel:
            return pressed == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
        case MessageButtons::YesNo:
            break;
    }
    return pressed == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

}  // namespace k5::qtkit
