// The formatter program: decides at start from the store's partition type
// whether the conversion is needed, and runs the wizard when it is.
#pragma once

#include "formatter/message_owner.h"
#include "platform/storage/storage.h"

namespace quillon {

class StoreFormatApp {
public:
    StoreFormatApp(platform::Storage& storage, MessageBinder binder);

    // The start-up check, and the wizard when the store needs it. Always false:
    // the program ends when this returns.
    bool InitInstance();

private:
    platform::Storage& m_storage;
    MessageBinder m_binder;
};

} // namespace quillon
