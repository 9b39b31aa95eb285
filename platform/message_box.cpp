#include "platform/message_box.h"

#include "platform/text.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
MessageBoxHandler g_handler;

} // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard lock(g_mutex);
    std::swap(g_handler, handler);
    return handler;
}

MessageAnswer ShowMessage(const Message& message)
{
    MessageBoxHandler handler;
    {
        std::lock_guard lock(g_mutex);
        handler = g_handler;
    }
    if (handler)
        return handler(message);
    std::fprintf(stderr, "%s: %s\n", Narrow(message.caption).c_str(), Narrow(message.text).c_str());
    return message.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

} // namespace platform
