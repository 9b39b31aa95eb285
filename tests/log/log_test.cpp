// The log file, where log and status lines go, and which folder the file goes to.
#include "loader/log/log_file.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

bool WriteProcFile(const char* path, const std::string& text)
{
    const int fd = open(path, O_WRONLY);
    const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0)
        close(fd);
    return ok;
}

// An empty read-only filesystem over `dir`, seen only by this process: a mount
// namespace of its own (inside a user namespace when not root), so root meets
// a folder it cannot write too.
bool MountReadOnly(const std::string& dir)
{
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (uid != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !WriteProcFile("/proc/self/setgroups", "deny")
            || !WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
            || !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return false;
    } else if (unshare(CLONE_NEWNS) != 0) {
        return false;
    }
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
           && mount("velmor-test", dir.c_str(), "tmpfs", MS_RDONLY, nullptr) == 0;
}

// LogDirectory as a child process with this environment finds it; the mount
// and the environment stay in the child.
std::string LogDirectoryInChild(const std::string& programDir, bool readOnly,
                                const std::map<std::string, std::optional<std::string>>& env)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string result = "no read-only folder can be made here";
        if (!readOnly || MountReadOnly(programDir)) {
            for (const auto& [name, value] : env) {
                if (value)
                    setenv(name.c_str(), value->c_str(), 1);
                else
                    unsetenv(name.c_str());
            }
            result = "=" + platform::LogDirectory(programDir, "Velmor.txt");
        }
        const bool ok = write(fds[1], result.data(), result.size()) == ssize_t(result.size());
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    std::string result;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return result;
}

TEST(LogFolder, BesideTheProgramElseTheStateFolder)
{
    test::TempDir dir;
    const std::string program = dir.File("bin") + "/";
    const std::string home = dir.File("home");
    std::filesystem::create_directories(program);
    std::filesystem::create_directories(home);
    const std::string homeState = home + "/.local/state/velmor/";
    const auto unset = std::nullopt;
    const struct {
        const char* legend;
        bool readOnly;
        std::optional<std::string> stateHome;
        std::string expected;
    } rows[] = {
        {"program folder writable", false, dir.File("state"), program},
        {"read-only: $XDG_STATE_HOME", true, dir.File("state"), dir.File("state") + "/velmor/"},
        {"read-only: no $XDG_STATE_HOME", true, unset, homeState},
        {"read-only: empty $XDG_STATE_HOME", true, "", homeState},
        {"read-only: a relative $XDG_STATE_HOME does not count", true, "state", homeState},
        {"nowhere to write", true, program + "state", ""},
    };
    for (const auto& row : rows) {
        std::filesystem::remove_all(dir.File("state"));
        std::filesystem::remove_all(home + "/.local");
        EXPECT_EQ(LogDirectoryInChild(program, row.readOnly, {{"XDG_STATE_HOME", row.stateHome}, {"HOME", home}}),
                  "=" + row.expected)
            << row.legend;
        if (row.readOnly && !row.expected.empty()) {
            // Made private, as the XDG rules ask.
            struct stat info {};
            ASSERT_EQ(stat(row.expected.c_str(), &info), 0) << row.legend;
            EXPECT_EQ(info.st_mode & 0777, 0700u) << row.legend;
        }
    }
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
