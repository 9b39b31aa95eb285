// The board's answers to the host's sentences: the firmware's queries in
// command mode and the resident loader's short forms in PFL mode.
#pragma once

#include "receiver/board_flash.h"
#include "receiver/board_options.h"
#include "receiver/fault_switches.h"
#include "receiver/port_settings.h"
#include "receiver/position_stream.h"

#include <string>
#include <string_view>

namespace receiver {

class SentenceResponder {
public:
    SentenceResponder(const BoardOptions& options, const FaultSwitches& faults, const PortSettings& ports,
                      const PositionStream& stream);

    // The reply line (with its line end) to one received line (from '$', no
    // line end), or "" when the board has nothing to say to it.
    std::string Answer(std::string_view line, BoardMode mode, unsigned rate, const BoardFlash& flash) const;

private:
    std::string AnswerQuery(std::string_view body, unsigned rate, const BoardFlash& flash) const;
    std::string AnswerPfl(std::string_view body, const BoardFlash& flash) const;
    std::string PortParameters() const;
    uint32_t Echo(uint32_t address) const;

    const BoardOptions& m_options;
    const FaultSwitches& m_faults;
    const PortSettings& m_ports;
    const PositionStream& m_stream;
};

} // namespace receiver
