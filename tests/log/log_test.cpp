// The log file and where log and status lines go.
#include "loader/log/log_file.h"
#include "platform/text.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <clocale>

namespace velmor {
namespace {

std::string FileText(const std::string& path)
{
    const auto bytes = test::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs the test body in another locale and puts the old one back.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : m_old(std::setlocale(LC_ALL, nullptr)) { m_ok = std::setlocale(LC_ALL, name) != nullptr; }
    ~LocaleScope() { std::setlocale(LC_ALL, m_old.c_str()); }
    bool Ok() const { return m_ok; }

private:
    std::string m_old;
    bool m_ok = false;
};

TEST(LogFileTest, HeaderEntriesAndRuns)
{
    test::TempDir dir;
    const std::string path = dir.File("Velmor.txt");
    {
        LogFile file;
        ASSERT_TRUE(file.Open(path, L"GPS firmware loader 1.0.7"));
        file.LogLine(L"first");
        file.StatusLine(L"");
        file.StatusLine(L"Address:0x10000000.");
    }
    EXPECT_EQ(FileText(path), "GPS firmware loader 1.0.7\r\nfirst\r\n\r\nAddress:0x10000000.\r\n");

    // A second run starts the file afresh.
    LogFile again;
    ASSERT_TRUE(again.Open(path, L"GPS firmware loader 1.0.7"));
    again.Write(L"second run");
    EXPECT_EQ(FileText(path), "GPS firmware loader 1.0.7\r\nsecond run\r\n");
}

TEST(LogFileTest, EntriesAreOnDiskAtOnceButTheHeaderWaits)
{
    test::TempDir dir;
    const std::string path = dir.File("Velmor.txt");
    LogFile file;
    ASSERT_TRUE(file.Open(path, L"H"));
    EXPECT_EQ(FileText(path), "");
    file.Write(L"x");
    EXPECT_EQ(FileText(path), "H\r\nx\r\n");
}

TEST(LogFileTest, LongEntriesAreCutAtACharacterBoundary)
{
    test::TempDir dir;
    const std::string path = dir.File("Velmor.txt");
    {
        LogFile file;
        ASSERT_TRUE(file.Open(path, L""));
        file.Write(std::wstring(600, L'a'));
    }
    EXPECT_EQ(FileText(path), "\r\n" + std::string(511, 'a') + "\r\n");

    LocaleScope utf8("C.UTF-8");
    ASSERT_TRUE(utf8.Ok());
    {
        LogFile file;
        ASSERT_TRUE(file.Open(path, L""));
        file.Write(L"a" + std::wstring(300, L'\u00e9'));   // 1 + 2 bytes each: 510 bytes fit, 512 would not
    }
    const std::string text = FileText(path);
    EXPECT_EQ(text.size(), 2 + 1 + 2 * 255 + 2u);
    EXPECT_EQ(text.substr(text.size() - 4), "\xc3\xa9\r\n");
}

TEST(TextConversion, ThroughTheLocale)
{
    {
        LocaleScope c("C");
        EXPECT_EQ(platform::Narrow(L"Gr\u00fc\u00dfe"), "Gr??e");
        EXPECT_EQ(platform::Widen("abc"), L"abc");
    }
    LocaleScope utf8("C.UTF-8");
    ASSERT_TRUE(utf8.Ok());
    EXPECT_EQ(platform::Narrow(L"Gr\u00fc\u00dfe"), "Gr\xc3\xbc\xc3\x9f" "e");
    EXPECT_EQ(platform::Narrow(L"\u00fc\u00fc", 3), "\xc3\xbc");
    EXPECT_EQ(platform::Widen("Gr\xc3\xbc\xc3\x9f" "e"), L"Gr\u00fc\u00dfe");
    EXPECT_EQ(platform::Widen("bad\xff" "byte"), L"bad?byte");
    EXPECT_EQ(platform::Widen("cut\xc3"), L"cut?");
}

} // namespace
} // namespace velmor
