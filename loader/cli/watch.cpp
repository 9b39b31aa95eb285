#include "loader/cli/watch.h"

#include "loader/cli/progress_display.h"
#include "loader/cli/watch_report.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fnmatch.h>
#include <list>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace velmor::cli {
namespace {

constexpr int kTickMs = 200;   // display redraws while a receiver is in progress; none while idle

bool SameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

std::string UtcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&now, &utc));
    return text;
}

// One run of the line: the jobs in progress, the counts and the records.
class Line {
public:
    Line(const WatchOptions& options, ReportFiles& files, std::stop_token stop)
        : m_options(options), m_files(files), m_stop(std::move(stop)), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          m_display(stdout, isatty(STDOUT_FILENO) != 0)
    {
    }
    ~Line()
    {
        m_jobs.clear();   // joins: every job has the stop by now, or has ended
        close(m_wake);
    }

    bool CountReached() const { return m_options.count > 0 && m_taken >= m_options.count; }
    bool Busy() const { return !m_jobs.empty(); }
    int Wake() const { return m_wake; }
    void Start(const PortEntry& port);
    // Records the jobs that have finished; with `all`, waits for every job first.
    void Collect(bool all);
    void Show()
    {
        m_display.SetSummary(Summary());
        m_display.Tick();
    }
    void Close() { m_display.Close(); }
    int Worst() const { return m_worst; }

private:
    struct Job {
        int number = 0;
        PortEntry port;
        std::unique_ptr<PortReporter> reporter;
        PortResult result;
        std::jthread thread;   // last: joined before the rest goes
    };

    std::string Summary() const;

    const WatchOptions& m_options;
    ReportFiles& m_files;
    const std::stop_token m_stop;
    const int m_wake;   // written when a job ends or the stop comes
    ProgressDisplay m_display;
    std::list<std::unique_ptr<Job>> m_jobs;
    std::mutex m_mutex;
    std::vector<Job*> m_finished;   // by the jobs' threads, under m_mutex
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    int m_taken = 0, m_done = 0, m_failed = 0, m_skipped = 0;
    int m_worst = kExitSuccess;
};

void Line::Start(const PortEntry& port)
{
    auto job = std::make_unique<Job>();
    job->number = ++m_taken;
    job->port = port;
    job->reporter = OpenPortReporter(port.name, m_options.logDir, m_options.flash.image);
    job->reporter->Note("Receiver " + std::to_string(job->number) + " on " + port.name
                        + (port.stableName.empty() ? "" : " (" + port.stableName + ")")
                        + (port.serial.empty() ? "" : ", USB serial number " + port.serial));
    m_display.Add(job->reporter.get());
    FlashOptions options = m_options.flash;
    options.deadline = DeadlineAfter(m_options.timeout);
    Job& started = *job;
    started.thread = std::jthread([this, &started, options] {
        started.result = FlashPort(started.port.name, options, *started.reporter, m_stop);
        {
            std::lock_guard lock(m_mutex);
            m_finished.push_back(&started);
        }
        const uint64_t one = 1;
        (void)!write(m_wake, &one, sizeof one);
    });
    m_jobs.push_back(std::move(job));
}

void Line::Collect(bool all)
{
    uint64_t drained = 0;
    (void)!read(m_wake, &drained, sizeof drained);
    if (all)
        for (auto& job : m_jobs)
            job->thread.join();
    std::vector<Job*> finished;
    {
        std::lock_guard lock(m_mutex);
        finished.swap(m_finished);
    }
    for (Job* job : finished) {
        if (job->thread.joinable())
            job->thread.join();
        const PortResult& result = job->result;
        TellCutShort(result, m_display.Live());
        m_worst = std::max(m_worst, int(result.code));
        if (result.code != kExitSuccess)
            ++m_failed;
        else if (result.update.skipped)
            ++m_skipped;
        else
            ++m_done;
        if (!m_files.Add({job->number, UtcNow(), job->port, result}))
            m_worst = std::max(m_worst, int(kExitOutputFailed));
        m_display.Retire(job->reporter.get());
        m_jobs.remove_if([job](const std::unique_ptr<Job>& j) { return j.get() == job; });
    }
}

std::string Line::Summary() const
{
    const double hours = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count() / 3600;
    const int finished = m_done + m_failed + m_skipped;
    char text[160];
    std::snprintf(text, sizeof text, "%d done, %d failed, %d skipped, %zu in progress; %.1f per hour", m_done,
                  m_failed, m_skipped, m_jobs.size(), hours > 0 ? finished / hours : 0.0);
    return text;
}

} // namespace

PortTracker::PortTracker(std::vector<std::string> match, std::vector<std::string> usb)
    : m_match(std::move(match)), m_usb(std::move(usb))
{
}

bool PortTracker::Matches(const PortEntry& port) const
{
    const auto globbed = [&port](const std::string& glob) {
        const std::string base = port.path.substr(port.path.rfind('/') + 1);
        for (const std::string* name : {&port.stableName, &port.path, &base})
            if (!name->empty() && fnmatch(glob.c_str(), name->c_str(), 0) == 0)
                return true;
        return false;
    };
    const auto usbId = [&port](const std::string& id) { return SameText(id, port.vendorId + ":" + port.modelId); };
    return (m_match.empty() || std::any_of(m_match.begin(), m_match.end(), globbed))
        && (m_usb.empty() || std::any_of(m_usb.begin(), m_usb.end(), usbId));
}

bool PortTracker::Offer(const PortEvent& event)
{
    if (event.kind == PortEvent::Kind::Removed) {
        m_taken.erase(event.port.path);
        return false;
    }
    return Matches(event.port) && m_taken.insert(event.port.path).second;
}

int RunWatch(const WatchOptions& options, const SignalStop& signals)
{
    if (!CheckImageOnce(options.flash.image).Ok())
        return kExitImageRefused;
    std::string why;
    const char* folder = std::getenv(platform::kDeviceDirVariable);
    const std::unique_ptr<PortEvents> events =
        folder && *folder ? WatchDeviceFolder(platform::DeviceDirectory(), why) : WatchUdev(why);
    if (!events) {
        std::fprintf(stderr, "velmor-cli: %s\n", why.c_str());
        return kExitNoReceiver;
    }
    PortEvents& source = *events;
    ReportFiles files(options.flash.image);
    if (!files.Open(options.report, options.junit, why)) {
        std::fprintf(stderr, "velmor-cli: %s\n", why.c_str());
        return kExitOutputFailed;
    }

    const std::stop_token stop = signals.Token();
    Line line(options, files, stop);
    if (line.Wake() < 0) {
        std::fprintf(stderr, "velmor-cli: %s\n", std::strerror(errno));
        return kExitOutputFailed;
    }
    PortTracker tracker(options.match, options.usb);
    // Taken at once, or, with --new-only, held as taken until they go away.
    for (const PortEntry& port : source.Present())
        if (tracker.Offer({PortEvent::Kind::Added, port}) && !options.newOnly && !line.CountReached())
            line.Start(port);
    std::printf("Waiting for receivers; image %s, SHA-256 %s\n", options.flash.image.path.c_str(),
                ToHex(options.flash.image.snapshot->sha256).c_str());
    const std::stop_callback woken(stop, [&line] {
        const uint64_t one = 1;
        (void)!write(line.Wake(), &one, sizeof one);
    });
    line.Show();
    bool broken = false;
    while (!broken && !stop.stop_requested() && !(line.CountReached() && !line.Busy())) {
        pollfd waits[] = {{source.Fd(), POLLIN, 0}, {line.Wake(), POLLIN, 0}};
        // Idle, nothing wakes the watch but a port event, a job's end or the stop.
        if (poll(waits, 2, line.Busy() ? kTickMs : -1) < 0 && errno != EINTR) {
            std::fprintf(stderr, "velmor-cli: waiting for ports: %s\n", std::strerror(errno));
            broken = true;
        }
        if (waits[0].revents & POLLIN)
            for (const PortEvent& event : source.Take())
                if (tracker.Offer(event) && !line.CountReached())
                    line.Start(event.port);
        line.Collect(false);
        line.Show();
    }
    // Stopped: each job ends its waits and says where it left the receiver.
    // Otherwise the jobs run to their end.
    line.Collect(true);
    line.Show();
    line.Close();
    int status = std::max(line.Worst(), broken ? int(kExitNoReceiver) : 0);
    if (signals.Signalled())
        status = std::max(status, int(kExitInterrupted));
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        status = std::max(status, int(kExitOutputFailed));
    return status;
}

} // namespace velmor::cli
