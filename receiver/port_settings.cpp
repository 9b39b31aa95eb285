// Port settings behind a lock, so tests can read them while the board runs.
#include "receiver/port_settings.h"

namespace receiver {

void PortSettings::Reset(unsigned rateA, bool streams)
{
    std::lock_guard lock(m_mutex);
    m_ports[Index(ReceiverPort::A)] = {rateA, streams, streams};
    m_ports[Index(ReceiverPort::B)] = {kPortBStartRate, streams, streams};
}

PortSetup PortSettings::Get(ReceiverPort port) const
{
    std::lock_guard lock(m_mutex);
    return m_ports[Index(port)];
}

void PortSettings::SetRate(ReceiverPort port, unsigned rate)
{
    std::lock_guard lock(m_mutex);
    m_ports[Index(port)].rate = rate;
}

void PortSettings::SetStreams(ReceiverPort port, bool position, bool satellites, bool on)
{
    std::lock_guard lock(m_mutex);
    PortSetup& setup = m_ports[Index(port)];
    if (position)
        setup.positionSentences = on;
    if (satellites)
        setup.satelliteSentences = on;
}

} // namespace receiver
