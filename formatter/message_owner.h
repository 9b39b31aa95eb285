// Which window owns the message boxes: none at start-up, the wizard during Continue.
// The program binds real boxes for an owner, tests a recorder.
#pragma once

#include "platform/message_box.h"

#include <functional>

namespace platform {
class Dialog;
}

namespace quillon {

// Binds the boxes for one owner; returns the binding it replaced.
using MessageBinder = std::function<platform::MessageBoxHandler(platform::Dialog* owner)>;

// Binds for its lifetime and then puts back what was bound before.
class MessageOwner {
public:
    MessageOwner(const MessageBinder& binder, platform::Dialog* owner);
    ~MessageOwner();
    MessageOwner(const MessageOwner&) = delete;
    MessageOwner& operator=(const MessageOwner&) = delete;

private:
    bool m_bound = false;
    platform::MessageBoxHandler m_previous;
};

} // namespace quillon
