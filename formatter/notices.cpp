// Notices through the platform's message-box seam.
#include "formatter/notices.h"

#include "platform/message_box.h"

namespace quillon {

void Show(const Notice& notice)
{
    platform::ShowMessage({notice.text, notice.caption, platform::MessageButtons::Ok, platform::MessageIcon::Exclamation});
}

} // namespace quillon
