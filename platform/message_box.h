// Message boxes as the engine asks for them. The dialog layer binds the real
// boxes; tests bind an answering recorder; without either, the text goes to
// standard error and a question is answered No.
#pragma once

#include <functional>
#include <string>

namespace platform {

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Information, Question, Exclamation, Error };
enum class MessageAnswer { Ok, Yes, No };

struct Message {
    std::wstring text;
    std::wstring caption;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
};

using MessageBoxHandler = std::function<MessageAnswer(const Message&)>;

// Returns the handler it replaces.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
// Blocks the calling thread until the message has been answered.
MessageAnswer ShowMessage(const Message& message);

} // namespace platform
