// A receiver's serial port on another machine, reached through a network
// serial port server (RFC 2217, as ser2net serves it) over one TCP connection.
#pragma once

#include "platform/line_opener.h"
#include "platform/rfc2217_codec.h"
#include "platform/serial_line.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

inline constexpr const char* kNetworkScheme = "rfc2217://";

struct NetworkPort {
    std::string host;   // a host name, an IPv4 address, or an IPv6 address without brackets
    uint16_t port = 0;

    std::string Endpoint() const;   // HOST:PORT, [ADDRESS]:PORT for IPv6
    std::string Url() const;        // rfc2217://HOST:PORT
};

// Whether `name` is meant as a network port: it starts with rfc2217://.
bool IsNetworkPortName(const std::string& name);
// rfc2217://HOST:PORT with nothing else; false with the reason in `why`.
bool ParseNetworkPort(const std::string& name, NetworkPort& port, std::string& why);

class Rfc2217Line : public SerialLine {
public:
    static constexpr std::chrono::milliseconds kConnectWait {5000};
    static constexpr std::chrono::milliseconds kAnswerWait {2000};   // for the server's answer to a command

    // Connects, negotiates and sets 8N1 at `baud`, input purged; nullptr with
    // `error` filled when it cannot.
    static std::unique_ptr<Rfc2217Line> Open(const NetworkPort& where, uint32_t baud, OpenError& error);
    // The same over a stream socket that is connected already, which it takes over.
    static std::unique_ptr<Rfc2217Line> Attach(int socket, const NetworkPort& where, uint32_t baud, OpenError& error);
    ~Rfc2217Line() override;
    Rfc2217Line(const Rfc2217Line&) = delete;
    Rfc2217Line& operator=(const Rfc2217Line&) = delete;

    int Read(uint8_t* buffer, size_t max, std::chrono::milliseconds wait) override;
    int Write(const uint8_t* bytes, size_t length) override;
    // 8N1 at `baud`, each setting answered by the server before the next byte
    // goes out. A missing or different answer ends the connection: bytes at an
    // unknown rate could be anything to the receiver.
    bool SetSpeed(uint32_t baud) override;
    // Both directions, on the server too; what arrives before its answer is dropped.
    void Purge() override;
    void Drain() override;
    bool TakeLineErrors(uint32_t& flags) override;
    void Pause(std::chrono::milliseconds duration) override;
    Clock::time_point Now() const override;
    bool Gone() const override { return m_socket < 0; }
    std::string Name() const override { return m_where.Url(); }

    // Why the connection ended, naming the server; empty while it is up.
    const std::string& Failure() const { return m_failure; }

private:
    Rfc2217Line(int socket, NetworkPort where) : m_socket(socket), m_where(std::move(where)) {}

    // One wait of up to `wait` on the socket: sends pending output, takes what came.
    // False when nothing came.
    bool Pump(std::chrono::milliseconds wait);
    // What the socket takes of the pending output now.
    void SendSome();
    // Sends all pending output by `deadline`.
    bool Flush(Clock::time_point deadline);
    // The server's answer to `command`, sent before.
    bool Await(uint8_t command, std::vector<uint8_t>& value, Clock::time_point deadline);
    void Fail(const std::string& why);

    int m_socket;
    NetworkPort m_where;
    rfc2217::TelnetClient m_telnet;
    std::vector<uint8_t> m_input;    // data not yet read, from m_inputAt
    size_t m_inputAt = 0;
    std::vector<uint8_t> m_output;   // wire bytes the socket has not taken yet
    std::vector<rfc2217::ServerMessage> m_answers;
    bool m_purging = false;          // data is dropped until the purge's answer
    uint32_t m_lineErrors = 0;
    std::string m_failure;
    bool m_settingsRefused = false;  // the server did not take 8N1 at the rate
};

} // namespace platform
