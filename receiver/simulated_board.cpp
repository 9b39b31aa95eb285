// The simulated board's worker: reads what the client sends, judges it by the
// two line speeds, hands it to the firmware or a loader, answers, streams, and
// paces the line when asked to.
#include "receiver/simulated_board.h"

#include "loader/upload/byte_codes.h"
#include "receiver/line_speed.h"
#include "receiver/nmea_sentence.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace receiver {
namespace {

// Non-printing bytes that go out ahead of the cut sentence under the junk fault.
constexpr char kJunkBytes[] = {'\x00', '\xFF', '\x1B', '\xFE'};

timespec Timeout(std::chrono::steady_clock::duration wait)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    constexpr long long kNanosPerSecond = 1000000000;
    return {time_t(ns / kNanosPerSecond), long(ns % kNanosPerSecond)};
}

} // namespace

SimulatedBoard::SimulatedBoard(BoardOptions options)
    : m_options(std::move(options)), m_mode(m_options.mode)
{
    m_ports.Reset(m_options.commandRate, m_options.stream);
}

SimulatedBoard::~SimulatedBoard()
{
    Stop();
}

void SimulatedBoard::Start()
{
    if (m_worker.joinable())
        return;
    if (!IsCommandRate(m_options.commandRate))
        throw std::invalid_argument("no command rate: " + std::to_string(m_options.commandRate));
    if (m_options.mode == BoardMode::Sfld)
        throw std::invalid_argument("the SFLD runs only once uploaded");
    try {
        if (!m_options.flashImage.empty()) {
            std::lock_guard lock(m_flashMutex);
            m_flash.Load(m_options.flashImage);
        }
        m_line.Open();
        m_line.Publish(DevicePath());
        m_stopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_stopEvent < 0)
            throw std::system_error(errno, std::generic_category(), "eventfd");
        m_worker = std::thread(&SimulatedBoard::Run, this);
    } catch (...) {
        Stop();
        throw;
    }
}

void SimulatedBoard::Stop()
{
    if (m_worker.joinable()) {
        const uint64_t one = 1;
        if (::write(m_stopEvent, &one, sizeof one) != sizeof one)
            std::terminate();   // the worker could never be joined
        m_worker.join();
    }
    if (m_stopEvent >= 0)
        ::close(m_stopEvent);
    m_stopEvent = -1;
    m_line.Close();
    m_incoming.clear();
    m_outgoing.clear();
    m_wire.clear();
    ApplyPendingRate();
    m_assembler.Reset();
    m_recent.clear();
}

std::string SimulatedBoard::DevicePath() const
{
    return m_options.deviceDir + "/" + m_options.deviceName;
}

unsigned SimulatedBoard::CurrentRate() const
{
    switch (Mode()) {
    case BoardMode::Command:
        break;
    case BoardMode::Pfl:
        return kPflRate;
    case BoardMode::Sfld:
        return m_sfld.Rate();
    }
    return m_ports.Get(ReceiverPort::A).rate;
}

uint32_t SimulatedBoard::FlashWord(uint32_t address) const
{
    std::lock_guard lock(m_flashMutex);
    return m_flash.Word(address);
}

std::vector<uint8_t> SimulatedBoard::ReadFlash(uint32_t address, size_t count) const
{
    std::lock_guard lock(m_flashMutex);
    return m_flash.Read(address, count);
}

void SimulatedBoard::SaveFlash(const std::string& path) const
{
    const std::string& target = path.empty() ? m_options.flashImage : path;
    if (target.empty())
        throw std::runtime_error("the board was started without a flash image; name a file");
    std::lock_guard lock(m_flashMutex);
    m_flash.Save(target);
}

void SimulatedBoard::Run()
{
    m_clientBaud = m_line.ClientBaud();
    EnterMode(Mode(), Clock::now());
    CommitTranscript();
    enum { kStop, kWatch, kMaster, kDescriptors };
    for (;;) {
        const auto now = Clock::now();
        const auto wake = NextWake(now);
        pollfd fds[kDescriptors] = {
            {m_stopEvent, POLLIN, 0},
            {m_line.WatchFd(), POLLIN, 0},
            {m_line.MasterFd(), 0, 0},
        };
        if (m_incoming.size() < kMaxIncoming)
            fds[kMaster].events |= POLLIN | POLLPRI;
        if (!m_wire.empty())
            fds[kMaster].events |= POLLOUT;
        const timespec timeout = Timeout(wake - std::min(wake, now));
        if (ppoll(fds, kDescriptors, wake == Clock::time_point::max() ? nullptr : &timeout, nullptr) < 0
            && errno != EINTR)
            return;
        // The board holds the client side open itself, so a hang-up means the
        // line is gone; carrying on would only spin.
        if (fds[kStop].revents || (fds[kMaster].revents & (POLLERR | POLLHUP | POLLNVAL)))
            return;

        if (fds[kWatch].revents & POLLIN)
            m_line.TakeWatchEvents();
        if (fds[kMaster].revents & (POLLIN | POLLPRI))
            ReadFromClient();
        const auto later = Clock::now();
        DeliverIncoming(later);
        TickLoaders(later);
        StreamIfDue(later);
        // What a step took in is written up before its answers leave: a client
        // that returns on an answer must find in the transcript what it answered.
        CommitTranscript();
        SendOutgoing(later);
    }
}

SimulatedBoard::Clock::time_point SimulatedBoard::NextWake(Clock::time_point now) const
{
    auto wake = Clock::time_point::max();
    if (StreamsOn())
        wake = m_nextStream;
    if (Mode() == BoardMode::Pfl)
        wake = std::min(wake, m_pfld.NextDue());
    else if (Mode() == BoardMode::Sfld)
        wake = std::min(wake, m_sfld.NextDue());
    if (m_options.pace) {
        if (!m_incoming.empty())
            wake = std::min(wake, m_receivePacer.NextDue(now));
        if (!m_outgoing.empty() && m_wire.empty() && m_line.ClientPresent())
            wake = std::min(wake, m_sendPacer.NextDue(now));
    }
    return wake;
}

void SimulatedBoard::ReadFromClient()
{
    uint8_t buffer[kReadChunk + 1];
    size_t count = 0;
    if (m_line.Read(buffer, sizeof buffer, count) == PseudoTerminal::Packet::None)
        return;
    // Read on every packet: a status packet is the client's new setting, and
    // data is judged by the speed the client has now.
    const unsigned baud = m_line.ClientBaud();
    m_clientBaud = baud;
    for (size_t i = 0; i < count; ++i)
        m_incoming.push_back({buffer[i], baud});
}

void SimulatedBoard::DeliverIncoming(Clock::time_point now)
{
    while (!m_incoming.empty()) {
        const IncomingByte byte = m_incoming.front();
        if (m_options.pace && !m_receivePacer.TryPass(now, byte.baud))
            return;
        m_incoming.pop_front();
        const bool understood = Understands(byte.baud);
        auto& runs = m_step.runs;
        if (runs.empty() || runs.back().baud != byte.baud || runs.back().understood != understood)
            runs.push_back({{}, byte.baud, understood});
        runs.back().bytes.push_back(byte.value);
        if (understood) {
            Interpret(byte.value, byte.baud, now);
        } else {
            m_assembler.Reset();   // a garbled byte breaks any sentence it fell into
            m_recent.clear();
        }
    }
}

bool SimulatedBoard::Understands(unsigned baud) const
{
    return Mode() == BoardMode::Sfld ? m_sfld.Understands(baud) : baud == CurrentRate();
}

void SimulatedBoard::Interpret(uint8_t byte, unsigned baud, Clock::time_point now)
{
    std::string out;
    switch (Mode()) {
    case BoardMode::Command:
        if (TakeBootRequest(byte))
            EnterMode(BoardMode::Pfl, now);
        else
            FeedSentence(byte);
        return;
    case BoardMode::Pfl: {
        // The resident loader reads its short sentences and its single-byte polls alike.
        if (!m_pfld.InFrame() && (m_assembler.InLine() || byte == uint8_t(kSentenceStart))) {
            FeedSentence(byte);
            return;
        }
        bool started = false;
        {
            std::lock_guard lock(m_flashMutex);
            started = m_pfld.Take(byte, now, out);
        }
        Queue(out, kPflRate);
        if (started)
            StartSfld(now);
        return;
    }
    case BoardMode::Sfld: {
        if (m_faults.IsOn(BoardFault::FallBack) && baud == SecondaryLoader::kWakeRate && m_sfld.Erased()) {
            // The host came back at the wake-up rate after an attempt: this
            // board's SFLD did not survive it, its resident loader takes over.
            EnterMode(BoardMode::Pfl, now);
            Interpret(byte, baud, now);
            return;
        }
        bool completed = false;
        {
            std::lock_guard lock(m_flashMutex);
            completed = m_sfld.Take(byte, baud, now, out);
        }
        Queue(out, baud);
        if (completed)
            CompleteUpload(now);
        return;
    }
    }
}

bool SimulatedBoard::TakeBootRequest(uint8_t byte)
{
    m_recent += char(byte);
    if (m_recent.size() > sizeof velmor::BOOT_REQUEST)
        m_recent.erase(0, m_recent.size() - sizeof velmor::BOOT_REQUEST);
    return std::equal(m_recent.begin(), m_recent.end(), std::begin(velmor::BOOT_REQUEST),
                      std::end(velmor::BOOT_REQUEST),
                      [](char a, uint8_t b) { return uint8_t(a) == b; });
}

void SimulatedBoard::TickLoaders(Clock::time_point now)
{
    // Bytes not yet taken in are on their way: a repeat now could fall into a frame.
    const bool arriving = !m_incoming.empty();
    std::string out;
    if (Mode() == BoardMode::Pfl) {
        bool started = false;
        {
            std::lock_guard lock(m_flashMutex);
            started = m_pfld.Tick(now, arriving, out);
        }
        Queue(out, kPflRate);
        if (started)
            StartSfld(now);
    } else if (Mode() == BoardMode::Sfld) {
        bool completed = false;
        {
            std::lock_guard lock(m_flashMutex);
            completed = m_sfld.Tick(now, arriving, out);
        }
        Queue(out, m_sfld.Rate());
        if (completed)
            CompleteUpload(now);
    }
}

void SimulatedBoard::StartSfld(Clock::time_point now)
{
    m_sfld.Start(m_pfld.Ram());
    EnterMode(BoardMode::Sfld, now);
}

void SimulatedBoard::CompleteUpload(Clock::time_point now)
{
    UploadEntry upload;
    bool firmware = false;
    {
        std::lock_guard lock(m_flashMutex);
        firmware = m_flash.HasFirmware();
        if (m_options.flashImage.empty()) {
            upload.error = "the board has no flash image file";
        } else {
            try {
                m_flash.Save(m_options.flashImage);
                upload.saved = true;
            } catch (const std::exception& e) {
                upload.error = e.what();
            }
        }
    }
    m_step.uploads.push_back(upload);
    // A restart: the new firmware if there is one, else the resident loader.
    EnterMode(firmware ? BoardMode::Command : BoardMode::Pfl, now);
}

void SimulatedBoard::EnterMode(BoardMode mode, Clock::time_point now)
{
    m_mode = mode;
    m_step.modes.push_back(mode);
    m_assembler.Reset();
    m_recent.clear();
    m_pfld.Reset();   // the SFLD, if it starts now, has taken what it needs from RAM
    if (mode != BoardMode::Sfld)
        m_sfld.Stop();
    ApplyPendingRate();
    // The firmware starts, at first or after an upload, with its start-up settings.
    if (mode == BoardMode::Command)
        m_ports.Reset(m_options.commandRate, m_options.stream);
    m_nextStream = now + m_options.streamPeriod;
}

void SimulatedBoard::FeedSentence(uint8_t byte)
{
    std::string line;
    if (!m_assembler.Feed(byte, line))
        return;
    SentenceExchange exchange{std::move(line), {}, false};
    const bool silent = m_faults.IsOn(BoardFault::Silence);
    std::string_view body;
    SettingSentence setting;
    if (Mode() == BoardMode::Command && SentenceBody(exchange.sentence, body)
        && SettingSentence::Parse(body, setting)) {
        // A silent board still takes its settings; it only says nothing.
        exchange.setting = true;
        if (!silent)
            exchange.reply = setting.Acknowledgement();
    } else if (!silent) {
        std::lock_guard lock(m_flashMutex);
        exchange.reply = m_responder.Answer(exchange.sentence, Mode(), CurrentRate(), m_flash);
    }
    if (!exchange.reply.empty()) {
        Queue(exchange.reply);
        if (m_faults.IsOn(BoardFault::Junk))
            Queue(std::string(std::begin(kJunkBytes), std::end(kJunkBytes))
                  + m_stream.CutSentence(std::chrono::system_clock::now()));
    }
    if (exchange.setting)
        TakeSetting(setting);
    m_step.exchanges.push_back(std::move(exchange));
}

void SimulatedBoard::TakeSetting(const SettingSentence& setting)
{
    switch (setting.kind) {
    case SettingSentence::Kind::Streams:
        m_ports.SetStreams(setting.port, setting.position, setting.satellites, setting.on);
        return;
    case SettingSentence::Kind::Rate:
        if (setting.port == ReceiverPort::B) {
            m_ports.SetRate(setting.port, setting.rate);
            return;
        }
        // The line keeps its speed until all queued so far, the acknowledgement
        // last, has gone out at it.
        m_pendingRate = setting.rate;
        m_pendingAfter = m_outgoing.size();
        if (m_pendingAfter == 0)
            ApplyPendingRate();
        return;
    case SettingSentence::Kind::NavigationReset:
        return;   // the simulated fix has nothing to start over
    }
}

void SimulatedBoard::ApplyPendingRate()
{
    if (m_pendingRate != 0)
        m_ports.SetRate(ReceiverPort::A, m_pendingRate);
    m_pendingRate = 0;
    m_pendingAfter = 0;
}

void SimulatedBoard::Queue(const std::string& text)
{
    Queue(text, CurrentRate());
}

void SimulatedBoard::Queue(const std::string& text, unsigned rate)
{
    // With nobody listening, what the board sends is lost on the wire.
    if (!m_line.ClientPresent() || m_faults.IsOn(BoardFault::Silence))
        return;
    for (char c : text)
        m_outgoing.push_back({c, rate});
}

bool SimulatedBoard::StreamsOn() const
{
    const PortSetup line = m_ports.Get(ReceiverPort::A);
    return line.positionSentences || line.satelliteSentences;
}

bool SimulatedBoard::StreamActive() const
{
    return StreamsOn() && Mode() == BoardMode::Command && !m_faults.IsOn(BoardFault::Silence);
}

void SimulatedBoard::StreamIfDue(Clock::time_point now)
{
    if (!StreamsOn() || now < m_nextStream)
        return;
    m_nextStream += m_options.streamPeriod;
    if (m_nextStream <= now)
        m_nextStream = now + m_options.streamPeriod;   // no catching up after a stall
    if (StreamActive() && m_outgoing.size() + m_wire.size() < kMaxPendingOutput) {
        const PortSetup line = m_ports.Get(ReceiverPort::A);
        Queue(m_stream.Burst(std::chrono::system_clock::now(), line.positionSentences, line.satelliteSentences));
    }
}

void SimulatedBoard::SendOutgoing(Clock::time_point now)
{
    if (!m_line.ClientPresent()) {
        m_outgoing.clear();
        m_wire.clear();
        ApplyPendingRate();
        return;
    }
    const auto flush = [this] {
        while (!m_wire.empty()) {
            const size_t taken = m_line.Write(m_wire.data(), m_wire.size());
            if (taken == 0)
                return;
            m_wire.erase(0, taken);
        }
    };
    flush();
    // A paced line holds while the client is not reading, as a flow-controlled wire would.
    if (m_options.pace && !m_wire.empty())
        return;

    if (m_outgoing.empty())
        return;
    const unsigned client = m_line.ClientBaud();   // the client may change it unannounced
    m_clientBaud = client;
    while (!m_outgoing.empty()) {
        const OutgoingByte byte = m_outgoing.front();
        if (m_options.pace && !m_sendPacer.TryPass(now, byte.rate))
            break;
        m_outgoing.pop_front();
        if (m_pendingRate != 0 && --m_pendingAfter == 0)
            ApplyPendingRate();
        if (client == byte.rate)
            m_wire += byte.value;
        else
            m_noise.Garble(byte.rate, client, m_wire);
    }
    flush();
}

void SimulatedBoard::CommitTranscript()
{
    m_transcript.Append(m_step);
    m_step = {};
}

} // namespace receiver
