// QMessageBox for the engine's messages.
#include "platform/dialog/message_boxes.h"

#include "platform/dialog/dialog.h"
#include "platform/dialog/gui_caller.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>

namespace platform {
namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::None:
        return QMessageBox::NoIcon;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

MessageAnswer UnansweredDefault(const Message& message)
{
    return message.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

MessageAnswer ShowOn(QWidget* parent, const Message& message)
{
    QMessageBox box(BoxIcon(message.icon), QString::fromStdWString(message.caption),
                    QString::fromStdWString(message.text), QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    if (message.buttons == MessageButtons::YesNo) {
        // A stray Enter must not rewrite a PFLD or stop an erase half-way.
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    const int result = box.exec();
    if (message.buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    // Escape and the close box answer No, as the box has no Cancel.
    return result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

} // namespace

MessageAnswer ShowMessageBox(Dialog* owner, const Message& message)
{
    return ShowOn(owner ? owner->Widget() : nullptr, message);
}

MessageBoxHandler BindMessageBoxes(GuiCaller& caller, Dialog* owner)
{
    // Held weakly: the dialog may be gone by the time a late question comes.
    QPointer<QWidget> parent = owner ? owner->Widget() : nullptr;
    return SetMessageBoxHandler([&caller, parent](const Message& message) {
        MessageAnswer answer = UnansweredDefault(message);
        caller.Call([&] { answer = ShowOn(parent.data(), message); });
        return answer;
    });
}

} // namespace platform
