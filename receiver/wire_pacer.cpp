// Byte pacing at a line speed.
#include "receiver/wire_pacer.h"

#include "receiver/line_speed.h"

#include <algorithm>

namespace receiver {

bool WirePacer::TryPass(Clock::time_point now, unsigned baud)
{
    if (now < m_next)
        return false;
    m_next = std::max(m_next, now - kMaxCredit) + ByteTime(baud);
    return true;
}

WirePacer::Clock::time_point WirePacer::NextDue(Clock::time_point now) const
{
    return std::max(m_next, now + kMinWait);
}

} // namespace receiver
