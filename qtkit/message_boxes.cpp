#include "qtkit/message_boxes.h"

#include <QKeyEvent>
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

// A message box answers a button's underlined letter even without Alt. On an unasked
// question, letters typed for another program must not answer it.
class SwallowLetters : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool plain = (key->modifiers() &
                                (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier)) == 0;
            if (plain && !key->text().isEmpty() && key->text().at(0).isLetterOrNumber()) {
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

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
        box->setDefaultButton(request.unasked ? QMessageBox::No : QMessageBox::Yes);
        box->setEscapeButton(QMessageBox::No);
        if (request.unasked) {
            box->installEventFilter(new SwallowLetters(box.get()));
        }
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
