// Scoped message-box binding.
#include "formatter/message_owner.h"

namespace quillon {

MessageOwner::MessageOwner(const MessageBinder& binder, platform::Dialog* owner)
{
    if (!binder)
        return;
    m_previous = binder(owner);
    m_bound = true;
}

MessageOwner::~MessageOwner()
{
    if (m_bound)
        platform::SetMessageBoxHandler(std::move(m_previous));
}

} // namespace quillon
