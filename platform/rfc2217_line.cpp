// RFC 2217 client line. Every wait is a poll() with a deadline; a closed or
// reset connection ends the line at once, as an unplugged adapter does.
#include "platform/rfc2217_line.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace platform {
namespace {

using namespace rfc2217;

constexpr std::chrono::milliseconds kInterByte {1};   // a read ends once the line is quiet this long
constexpr std::chrono::milliseconds kWriteWait {100};  // how long one write waits for the socket
constexpr size_t kWriteChunk = 4096;
constexpr size_t kReceiveChunk = 4096;
constexpr size_t kMaxAnswers = 32;   // unclaimed answers kept; older ones are stale
constexpr size_t kSchemeLength = 10;

int PollMs(SerialLine::Clock::duration left)
{
    return int(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

bool ValidHostName(const std::string& host)
{
    if (host.empty() || host.size() > 253 || host.front() == '.' || host.back() == '.'
        || host.find("..") != std::string::npos)
        return false;
    return std::all_of(host.begin(), host.end(),
                       [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '.'; });
}

const char* CommandName(uint8_t command)
{
    switch (command) {
    case kSetBaudRate: return "SET-BAUDRATE";
    case kSetDataSize: return "SET-DATASIZE";
    case kSetParity: return "SET-PARITY";
    case kSetStopSize: return "SET-STOPSIZE";
    default: return "PURGE-DATA";
    }
}

std::string ValueText(uint8_t command, const std::vector<uint8_t>& value)
{
    if (command == kSetBaudRate)
        return std::to_string(RateOf(value)) + " baud";
    return value.size() == 1 ? std::to_string(value[0]) : std::to_string(value.size()) + " bytes";
}

} // namespace

std::string NetworkPort::Endpoint() const
{
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return shown + ":" + std::to_string(port);
}

std::string NetworkPort::Url() const
{
    return kNetworkScheme + Endpoint();
}

bool IsNetworkPortName(const std::string& name)
{
    return name.size() >= kSchemeLength && strncasecmp(name.c_str(), kNetworkScheme, kSchemeLength) == 0;
}

bool ParseNetworkPort(const std::string& name, NetworkPort& port, std::string& why)
{
    if (!IsNetworkPortName(name)) {
        why = "not an rfc2217:// name";
        return false;
    }
    const std::string rest = name.substr(kSchemeLength);
    std::string host;
    size_t portAt = 0;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            why = "no ] after the IPv6 address";
            return false;
        }
        host = rest.substr(1, close - 1);
        in6_addr address {};
        if (inet_pton(AF_INET6, host.c_str(), &address) != 1) {
            why = "not an IPv6 address: \"" + host + "\"";
            return false;
        }
        portAt = close + 1;
    } else {
        portAt = rest.find(':');
        host = rest.substr(0, portAt);
        if (portAt != std::string::npos && rest.find(':', portAt + 1) != std::string::npos) {
            why = "an IPv6 address goes in brackets, as in rfc2217://[::1]:PORT";
            return false;
        }
        if (!ValidHostName(host)) {
            why = "not a host name or address: \"" + host + "\"";
            return false;
        }
    }
    if (portAt >= rest.size() || rest[portAt] != ':') {
        why = "no :PORT after the host";
        return false;
    }
    const std::string digits = rest.substr(portAt + 1);
    const bool numeric = !digits.empty() && digits.size() <= 5
        && std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); });
    const unsigned long value = numeric ? std::stoul(digits) : 0;
    if (value == 0 || value > 65535) {
        why = "the port must be a number from 1 to 65535, with nothing after it";
        return false;
    }
    port.host = host;
    std::transform(port.host.begin(), port.host.end(), port.host.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    port.port = uint16_t(value);
    return true;
}

std::unique_ptr<Rfc2217Line> Rfc2217Line::Open(const NetworkPort& where, uint32_t baud, OpenError& error)
{
    error = {OpenFault::None, where.Endpoint(), {}};
    addrinfo hints {};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(where.host.c_str(), std::to_string(where.port).c_str(), &hints, &found);
    if (resolved != 0) {
        error.kind = OpenFault::NotFound;
        error.text = where.host + ": "
            + (resolved == EAI_NONAME || resolved == EAI_NODATA ? "no such host" : gai_strerror(resolved));
        return nullptr;
    }
    const auto deadline = Clock::now() + kConnectWait;
    int connected = -1;
    int lastError = ETIMEDOUT;
    for (const addrinfo* a = found; a && connected < 0; a = a->ai_next) {
        const int s = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            lastError = errno;
            continue;
        }
        if (connect(s, a->ai_addr, a->ai_addrlen) == 0) {
            connected = s;
            break;
        }
        lastError = errno;
        if (errno == EINPROGRESS) {
            pollfd p {s, POLLOUT, 0};
            int r;
            while ((r = poll(&p, 1, PollMs(deadline - Clock::now()))) < 0 && errno == EINTR) {
            }
            int soError = 0;
            socklen_t length = sizeof soError;
            if (r > 0 && getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &length) == 0 && soError == 0) {
                connected = s;
                break;
            }
            lastError = r == 0 ? ETIMEDOUT : soError != 0 ? soError : errno;
        }
        close(s);
    }
    freeaddrinfo(found);
    if (connected < 0) {
        error.kind = OpenFault::Refused;
        error.text = where.Endpoint() + ": "
            + (lastError == ECONNREFUSED ? std::string("connection refused")
               : lastError == ETIMEDOUT  ? "no answer within " + std::to_string(kConnectWait.count() / 1000) + " s"
                                         : std::string(std::strerror(lastError)));
        return nullptr;
    }
    return Attach(connected, where, baud, error);
}

std::unique_ptr<Rfc2217Line> Rfc2217Line::Attach(int socket, const NetworkPort& where, uint32_t baud, OpenError& error)
{
    error = {OpenFault::None, where.Endpoint(), {}};
    fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK);
    // A record's acknowledgement is one byte: it must not wait for company.
    const int one = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::unique_ptr<Rfc2217Line> line(new Rfc2217Line(socket, where));
    line->m_output = line->m_telnet.Greeting();

    const auto deadline = Clock::now() + kAnswerWait;
    while (!line->m_telnet.ComPortAgreed() && !line->Gone()) {
        if (line->m_telnet.ComPortRefused() || Clock::now() >= deadline) {
            error.kind = OpenFault::NotSerial;
            error.text = where.Endpoint() + ": not a network serial port (no RFC 2217 COM-PORT-OPTION)";
            return nullptr;
        }
        line->Pump(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
    }
    AppendCommand(line->m_output, kSetLineStateMask, {kLineErrorStates});
    if (line->SetSpeed(baud))
        line->Purge();
    if (line->Gone()) {
        error.kind = line->m_settingsRefused ? OpenFault::NotSerial : OpenFault::Refused;
        error.text = line->m_failure;
        // ser2net says in plain text why it gives up, a device that would not open, then closes.
        std::string said;
        for (size_t i = line->m_inputAt; i < line->m_input.size(); ++i)
            if (std::isprint(line->m_input[i]))
                said += char(line->m_input[i]);
        if (!said.empty())
            error.text += " (the server said: " + said + ")";
        return nullptr;
    }
    return line;
}

Rfc2217Line::~Rfc2217Line()
{
    if (m_socket >= 0)
        close(m_socket);
}

void Rfc2217Line::Fail(const std::string& why)
{
    if (m_socket < 0)
        return;
    m_failure = m_where.Endpoint() + ": " + why;
    close(m_socket);
    m_socket = -1;
    m_output.clear();
}

bool Rfc2217Line::Pump(std::chrono::milliseconds wait)
{
    if (Gone())
        return false;
    SendSome();
    if (Gone())
        return false;
    pollfd p {m_socket, short(POLLIN | (m_output.empty() ? 0 : POLLOUT)), 0};
    if (poll(&p, 1, int(std::max<int64_t>(0, wait.count()))) <= 0)
        return false;
    if (p.revents & POLLOUT)
        SendSome();
    if (Gone() || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
        return false;

    uint8_t chunk[kReceiveChunk];
    const ssize_t got = recv(m_socket, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got == 0)
        Fail("the server closed the connection");
    else if (got < 0 && errno != EAGAIN && errno != EINTR)
        Fail(std::string("connection lost: ") + std::strerror(errno));
    if (got <= 0)
        return false;

    std::vector<uint8_t> data;
    std::vector<ServerMessage> messages;
    m_telnet.Feed(chunk, size_t(got), data, m_output, messages);
    size_t keepFrom = m_purging ? data.size() : 0;
    for (auto& message : messages) {
        if (message.command == kNotifyLineState) {
            m_lineErrors |= LineStateFlags(message.value.empty() ? 0 : message.value[0]);
            continue;
        }
        if (message.command == kNotifyModemState)
            continue;   // no modem lines are used
        if (m_purging && message.command == kPurgeData) {
            m_purging = false;
            keepFrom = message.dataBefore;
        }
        m_answers.push_back(std::move(message));
    }
    if (m_answers.size() > kMaxAnswers)
        m_answers.erase(m_answers.begin(), m_answers.end() - kMaxAnswers);
    m_input.insert(m_input.end(), data.begin() + long(keepFrom), data.end());
    SendSome();
    return true;
}

void Rfc2217Line::SendSome()
{
    if (Gone() || m_output.empty())
        return;
    const ssize_t sent = send(m_socket, m_output.data(), m_output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0)
        m_output.erase(m_output.begin(), m_output.begin() + sent);
    else if (sent < 0 && errno != EAGAIN && errno != EINTR)
        Fail(std::string("connection lost: ") + std::strerror(errno));
}

bool Rfc2217Line::Flush(Clock::time_point deadline)
{
    for (SendSome(); !m_output.empty() && !Gone(); SendSome()) {
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        Pump(std::chrono::ceil<std::chrono::milliseconds>(deadline - now));   // ends when the socket takes more
    }
    return !Gone();
}

bool Rfc2217Line::Await(uint8_t command, std::vector<uint8_t>& value, Clock::time_point deadline)
{
    if (!Flush(deadline))
        return false;
    for (;;) {
        const auto it = std::find_if(m_answers.begin(), m_answers.end(),
                                     [command](const ServerMessage& m) { return m.command == command; });
        if (it != m_answers.end()) {
            value = std::move(it->value);
            m_answers.erase(m_answers.begin(), it + 1);   // answers come in order: those before are stale
            return true;
        }
        const auto now = Clock::now();
        if (Gone() || now >= deadline)
            return false;
        Pump(std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
    }
}

int Rfc2217Line::Read(uint8_t* buffer, size_t max, std::chrono::milliseconds wait)
{
    if (max == 0)
        return 0;
    const auto deadline = Clock::now() + wait;
    size_t got = 0;
    for (;;) {
        const size_t take = std::min(max - got, m_input.size() - m_inputAt);
        std::copy_n(m_input.begin() + long(m_inputAt), take, buffer + got);
        got += take;
        m_inputAt += take;
        if (m_inputAt == m_input.size()) {
            m_input.clear();
            m_inputAt = 0;
        }
        if (got == max || Gone())
            break;
        const auto left = deadline - Clock::now();
        if (!Pump(got > 0 ? kInterByte : std::chrono::ceil<std::chrono::milliseconds>(left))
            && (got > 0 || left <= Clock::duration::zero()))
            break;
    }
    return got == 0 && Gone() ? -1 : int(got);
}

int Rfc2217Line::Write(const uint8_t* bytes, size_t length)
{
    if (Gone())
        return -1;
    if (length == 0 || !Flush(Clock::now() + kWriteWait))
        return Gone() ? -1 : 0;
    const size_t take = std::min(length, kWriteChunk);
    AppendData(m_output, bytes, take);
    Pump(std::chrono::milliseconds(0));
    return Gone() ? -1 : int(take);
}

bool Rfc2217Line::SetSpeed(uint32_t baud)
{
    if (Gone())
        return false;
    const std::pair<uint8_t, std::vector<uint8_t>> settings[] = {
        {kSetBaudRate, RateValue(baud)},
        {kSetDataSize, {8}},
        {kSetParity, {kParityNone}},
        {kSetStopSize, {kOneStopBit}},
    };
    for (const auto& [command, value] : settings)
        AppendCommand(m_output, command, value);
    const auto deadline = Clock::now() + kAnswerWait;
    for (const auto& [command, value] : settings) {
        std::vector<uint8_t> answer;
        if (!Await(command, answer, deadline)) {
            m_settingsRefused = !Gone();
            Fail(std::string(CommandName(command)) + " not answered within "
                 + std::to_string(kAnswerWait.count() / 1000) + " s");
            return false;
        }
        if (answer != value) {
            m_settingsRefused = true;
            Fail(std::string("the server answered ") + CommandName(command) + " " + ValueText(command, value) + " with "
                 + ValueText(command, answer));
            return false;
        }
    }
    return true;
}

void Rfc2217Line::Purge()
{
    if (Gone())
        return;
    m_input.clear();
    m_inputAt = 0;
    m_purging = true;
    AppendCommand(m_output, kPurgeData, {kPurgeBoth});
    std::vector<uint8_t> answer;
    if (!Await(kPurgeData, answer, Clock::now() + kAnswerWait))
        Fail("PURGE-DATA not answered within " + std::to_string(kAnswerWait.count() / 1000) + " s");
    m_purging = false;
}

void Rfc2217Line::Drain()
{
    const auto deadline = Clock::now() + kAnswerWait;
    if (!Flush(deadline))
        return;
    // What the server's side has not acknowledged yet is still on the way.
    int unacknowledged = 0;
    while (!Gone() && ioctl(m_socket, TIOCOUTQ, &unacknowledged) == 0 && unacknowledged > 0
           && Clock::now() < deadline)
        Pump(kInterByte);
}

bool Rfc2217Line::TakeLineErrors(uint32_t& flags)
{
    flags = std::exchange(m_lineErrors, 0);
    return !Gone();
}

void Rfc2217Line::Pause(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

SerialLine::Clock::time_point Rfc2217Line::Now() const
{
    return Clock::now();
}

} // namespace platform
