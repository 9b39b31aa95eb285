// The log file, where log and status lines go, and which folder the file goes to.
#include "loader/log/log_file.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST(LogFileTest, EachRunAfreshEachEntryOnDiskAtOnce)
{
    test::TempDir dir;
    const std::string path = dir.File("Velmor.txt");
    test::WriteFile(path, std::string("an earlier run\r\n"));
    LogFile file;
    ASSERT_TRUE(file.Open(path, L"GPS firmware loader 1.0.7"));
    EXPECT_EQ(FileText(path), "");   // the header waits for the first entry
    file.LogLine(L"first");
    EXPECT_EQ(FileText(path), "GPS firmware loader 1.0.7\r\nfirst\r\n");
    file.StatusLine(L"");
    file.StatusLine(L"Address:0x10000000.");
    EXPECT_EQ(FileText(path), "GPS firmware loader 1.0.7\r\nfirst\r\n\r\nAddress:0x10000000.\r\n");
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

// A folder nobody can write in, root included: for root an empty read-only
// mount over it, in a mount namespace of this test process's own.
bool MakeReadOnly(const std::string& dir)
{
    if (geteuid() != 0)
        return chmod(dir.c_str(), 0555) == 0;
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
           && mount("velmor-test", dir.c_str(), "tmpfs", MS_RDONLY, nullptr) == 0;
}

TEST(LogFolder, BesideTheProgramElseTheStateFolder)
{
    test::TempDir dir;
    const std::string program = dir.File("bin") + "/", home = dir.File("home"), state = dir.File("state");
    std::filesystem::create_directories(program);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    EXPECT_EQ(platform::LogDirectory(program, "Velmor.txt"), program);

    // Installed: a program folder nobody can write in.
    ASSERT_TRUE(MakeReadOnly(program)) << std::strerror(errno);
    const std::string homeState = home + "/.local/state/velmor/";
    const struct {
        const char* legend;
        std::optional<std::string> stateHome;
        std::string expected;
    } rows[] = {
        {"$XDG_STATE_HOME", state, state + "/velmor/"},
        {"no $XDG_STATE_HOME", std::nullopt, homeState},
        {"a relative $XDG_STATE_HOME does not count", "state", homeState},
        {"nowhere to write", program + "state", ""},
    };
    for (const auto& row : rows) {
        std::filesystem::remove_all(state);
        std::filesystem::remove_all(home);
        if (row.stateHome)
            setenv("XDG_STATE_HOME", row.stateHome->c_str(), 1);
        else
            unsetenv("XDG_STATE_HOME");
        const std::string found = platform::LogDirectory(program, "Velmor.txt");
        EXPECT_EQ(found, row.expected) << row.legend;
        struct stat info {};
        if (!found.empty()) {   // made private, as the XDG rules ask
            EXPECT_TRUE(stat(found.c_str(), &info) == 0 && (info.st_mode & 0777) == 0700) << row.legend;
        }
    }
    geteuid() == 0 ? umount(program.c_str()) : chmod(program.c_str(), 0755);
}

TEST(TextConversion, ThroughTheLocale)
{
    {
        LocaleScope c("C");
        EXPECT_EQ(platform::Narrow(L"Gr\u00fc\u00dfe"), "Gr??e");
        EXPECT_EQ(platform::Widen("abc"), L"abc");
        // A file name that the encoding cannot carry whole is no file name at all.
        std::string path;
        EXPECT_FALSE(platform::NarrowExact(L"/tmp/Gr\u00fc\u00dfe.bin", path));
        EXPECT_TRUE(platform::NarrowExact(L"/tmp/image.bin", path));
        EXPECT_EQ(path, "/tmp/image.bin");
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
