#include "tests/support/scripted_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace velmor::test {
namespace {

std::string Printable(const std::string& bytes)
{
    std::string out;
    char hex[5];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

} // namespace

ScriptedLine::ScriptedLine(std::vector<Step> script)
{
    Add(std::move(script));
}

void ScriptedLine::Add(std::vector<Step> steps)
{
    for (auto& step : steps)
        m_script.push_back(std::move(step));
    Advance();
}

void ScriptedLine::Schedule(const Step& step)
{
    Clock::time_point at = m_now;
    for (int i = 0; i < step.repeat; ++i) {
        at += step.delay;
        for (unsigned char c : step.answer)
            m_input.push_back({at, c});
    }
    std::stable_sort(m_input.begin(), m_input.end(), [](const Arrival& a, const Arrival& b) { return a.at < b.at; });
}

void ScriptedLine::Advance()
{
    while (m_step < m_script.size() && m_expected == m_script[m_step].expect.size()) {
        Schedule(m_script[m_step]);
        ++m_step;
        m_expected = 0;
    }
}

int ScriptedLine::Read(uint8_t* buffer, size_t max, std::chrono::milliseconds wait)
{
    if (m_vanished)
        return -1;
    if (max == 0)
        return 0;
    if (m_input.empty() || m_input.front().at > m_now + wait) {
        m_now += wait;
        return 0;
    }
    m_now = std::max(m_now, m_input.front().at);
    // What has arrived by now comes in one read, as a burst would.
    size_t count = 0;
    while (count < max && !m_input.empty() && m_input.front().at <= m_now) {
        buffer[count++] = m_input.front().byte;
        m_input.pop_front();
    }
    return int(count);
}

int ScriptedLine::Write(const uint8_t* bytes, size_t length)
{
    if (m_vanished || m_failWrites)
        return -1;
    if (m_stalled) {
        m_now += std::chrono::milliseconds(100);
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        const char c = char(bytes[i]);
        m_sent += c;
        if (m_failed || (m_allowMore && m_step >= m_script.size()))
            continue;
        if (m_step >= m_script.size() || m_script[m_step].expect[m_expected] != c) {
            m_failed = true;   // one report: what follows a wrong byte says nothing new
            const std::string expected = m_step < m_script.size() ? m_script[m_step].expect : std::string();
            ADD_FAILURE() << "the loader sent '" << Printable(std::string(1, c)) << "' at byte " << m_sent.size() - 1
                          << " where step " << m_step << " expects '" << Printable(expected) << "' (position "
                          << m_expected << "); sent so far: '" << Printable(m_sent) << "'";
            continue;
        }
        ++m_expected;
        Advance();
    }
    return int(length);
}

bool ScriptedLine::SetSpeed(uint32_t baud)
{
    m_speeds.push_back(baud);
    return true;
}

void ScriptedLine::Purge()
{
    while (!m_input.empty() && m_input.front().at <= m_now)
        m_input.pop_front();
}

bool ScriptedLine::TakeLineErrors(uint32_t& flags)
{
    flags = m_errors;
    m_errors = 0;
    return m_counters;
}

} // namespace velmor::test
