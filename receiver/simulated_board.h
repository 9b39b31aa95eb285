// A GPS receiver board simulated on a pseudo-terminal: the loader tests' peer
// and the demo's board. One worker serves the line; callers may be any thread.
#pragma once

#include "receiver/board_flash.h"
#include "receiver/board_options.h"
#include "receiver/board_transcript.h"
#include "receiver/fault_switches.h"
#include "receiver/line_noise.h"
#include "receiver/port_settings.h"
#include "receiver/position_stream.h"
#include "receiver/pseudo_terminal.h"
#include "receiver/resident_loader.h"
#include "receiver/secondary_loader.h"
#include "receiver/sentence_assembler.h"
#include "receiver/sentence_responder.h"
#include "receiver/setting_sentence.h"
#include "receiver/wire_pacer.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace receiver {

class SimulatedBoard {
public:
    // The resident loader talks at this rate whatever the firmware's rate is.
    static constexpr unsigned kPflRate = ResidentLoader::kRate;

    explicit SimulatedBoard(BoardOptions options);
    ~SimulatedBoard();
    SimulatedBoard(const SimulatedBoard&) = delete;
    SimulatedBoard& operator=(const SimulatedBoard&) = delete;

    // Loads the flash, opens and publishes the line, starts serving it. Throws
    // std::invalid_argument (no command rate, or the SFLD as start mode),
    // std::system_error or std::runtime_error; the board is then stopped.
    void Start();
    // Stops serving and removes the published name. Safe to call twice.
    void Stop();

    // <deviceDir>/<deviceName>, the name clients open.
    std::string DevicePath() const;

    void SetFault(BoardFault fault, bool on) { m_faults.Set(fault, on); }
    bool Fault(BoardFault fault) const { return m_faults.IsOn(fault); }
    // Before Start or while running; each fires once.
    void ArmFault(const OneShotFault& fault) { m_faults.Arm(fault); }
    void DisarmFaults() { m_faults.DisarmAll(); }
    // One-shot faults that have not fired yet.
    size_t ArmedFaults() const { return m_faults.Armed(); }

    BoardMode Mode() const { return m_mode.load(); }
    // The rate the board talks at now: port A's rate, kPflRate, or the SFLD's.
    unsigned CurrentRate() const;
    // The firmware's settings for a port: at start-up the command rate (port
    // B: PortSettings::kPortBStartRate) and the stream option; changed by set
    // sentences, and back to those on a restart after an upload. Port A's
    // rate changes once its acknowledgement has gone out.
    PortSetup Port(ReceiverPort port) const { return m_ports.Get(port); }
    // The client's speed as last seen; 0 before the board saw any.
    unsigned ClientBaud() const { return m_clientBaud.load(); }

    BoardTranscript& Transcript() { return m_transcript; }
    const BoardTranscript& Transcript() const { return m_transcript; }

    uint32_t FlashWord(uint32_t address) const;
    std::vector<uint8_t> ReadFlash(uint32_t address, size_t count) const;
    // Writes the flash back to `path`, by default the image it was loaded from.
    // Throws std::runtime_error.
    void SaveFlash(const std::string& path = {}) const;

private:
    using Clock = std::chrono::steady_clock;

    // A byte from the client with the speed it was sent at.
    struct IncomingByte {
        uint8_t value;
        unsigned baud;
    };
    // A byte the board sends, with the rate it sends it at.
    struct OutgoingByte {
        char value;
        unsigned rate;
    };

    void Run();
    Clock::time_point NextWake(Clock::time_point now) const;
    void ReadFromClient();
    void DeliverIncoming(Clock::time_point now);
    bool Understands(unsigned baud) const;
    void Interpret(uint8_t byte, unsigned baud, Clock::time_point now);
    bool TakeBootRequest(uint8_t byte);
    void FeedSentence(uint8_t byte);
    void TakeSetting(const SettingSentence& setting);
    void ApplyPendingRate();
    void TickLoaders(Clock::time_point now);
    void StartSfld(Clock::time_point now);
    void CompleteUpload(Clock::time_point now);
    void EnterMode(BoardMode mode, Clock::time_point now);
    void Queue(const std::string& text);
    void Queue(const std::string& text, unsigned rate);
    void StreamIfDue(Clock::time_point now);
    void SendOutgoing(Clock::time_point now);
    void CommitTranscript();
    bool StreamsOn() const;
    bool StreamActive() const;

    // Bytes read ahead of their paced arrival; past this the client has to wait.
    static constexpr size_t kMaxIncoming = 4096;
    // Stream bursts are skipped while this much output is still waiting.
    static constexpr size_t kMaxPendingOutput = 8192;
    static constexpr size_t kReadChunk = 1024;

    const BoardOptions m_options;
    FaultSwitches m_faults;
    BoardTranscript m_transcript;
    PortSettings m_ports;
    PositionStream m_stream;
    SentenceResponder m_responder{m_options, m_faults, m_ports, m_stream};
    std::atomic<BoardMode> m_mode;
    std::atomic<unsigned> m_clientBaud = 0;

    // Guards the flash, which the SFLD changes on the worker thread.
    mutable std::mutex m_flashMutex;
    BoardFlash m_flash;
    TranscriptStep m_step;   // since the last transcript commit
    ResidentLoader m_pfld{m_options, m_faults, m_step, m_flash};
    SecondaryLoader m_sfld{m_options, m_faults, m_step, m_flash};

    // The rest belongs to the worker thread while it runs.
    PseudoTerminal m_line;
    int m_stopEvent = -1;
    std::thread m_worker;
    SentenceAssembler m_assembler;
    LineNoise m_noise;
    WirePacer m_receivePacer;
    WirePacer m_sendPacer;
    std::deque<IncomingByte> m_incoming;
    std::deque<OutgoingByte> m_outgoing;   // as the board sends them
    std::string m_wire;                    // as the client will see them, not yet taken by the line
    Clock::time_point m_nextStream;
    std::string m_recent;                  // the last bytes at the command rate, for the boot request
    unsigned m_pendingRate = 0;            // port A's next rate, 0 for none
    size_t m_pendingAfter = 0;             // outgoing bytes still to leave at the old rate before it
};

} // namespace receiver
