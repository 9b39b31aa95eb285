// A plain serial client for the board tests: opens a device raw at a chosen
// speed, sends bytes, and collects what arrives, always against a deadline.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace receiver::test {

using namespace std::chrono_literals;

class BoardClient {
public:
    BoardClient(const std::string& path, unsigned baud);
    ~BoardClient();
    BoardClient(const BoardClient&) = delete;
    BoardClient& operator=(const BoardClient&) = delete;

    void SetBaud(unsigned baud);
    void Send(std::string_view bytes);

    // Reads until `done` holds for what was collected, or the timeout passes.
    bool ReadUntil(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout);
    // Reads for the whole duration; for checking that nothing (more) comes.
    void ReadFor(std::chrono::milliseconds duration);
    // Returns what was collected and starts afresh.
    std::string Take();

    // Sends `query` and returns the first whole line beginning with `prefix`
    // (with its line end); "" when none came in time. Collected bytes up to
    // the end of that line are dropped.
    std::string Ask(std::string_view query, std::string_view prefix, std::chrono::milliseconds timeout = 2s);

private:
    bool ReadSome(std::chrono::steady_clock::time_point deadline);

    int m_fd = -1;
    std::string m_collected;
};

} // namespace receiver::test
