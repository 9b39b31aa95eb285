#include "loader/cli/watch_report.h"

#include "loader/cli/cli_json.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::cli {
namespace {

using nlohmann::json;

json OrNull(const std::string& text)
{
    return text.empty() ? json() : json(JsonText(text));
}

// Text for an attribute or element: valid UTF-8 (JsonText), the markup
// characters as entities, and the control characters XML 1.0 forbids as \xNN.
std::string XmlText(const std::string& bytes)
{
    std::string text;
    for (const char c : JsonText(bytes)) {
        switch (c) {
        case '&': text += "&amp;"; break;
        case '<': text += "&lt;"; break;
        case '>': text += "&gt;"; break;
        case '"': text += "&quot;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                char escape[5];
                std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
                text += escape;
            } else {
                text += c;
            }
        }
    }
    return text;
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

// Written beside the file and renamed over it: a reader sees the old whole
// file or the new one, and a link planted under the name is replaced, not
// followed.
bool ReplaceFile(const std::string& path, const std::string& text, std::string& why)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    bool written = fchmod(fd, 0644) == 0;
    for (size_t at = 0; written && at < text.size();) {
        const ssize_t n = write(fd, text.data() + at, text.size() - at);
        written = n > 0;
        at += written ? size_t(n) : 0;
    }
    written = written && fsync(fd) == 0;
    if (!written)
        why = std::strerror(errno);
    written = close(fd) == 0 && written;
    if (written && rename(temporary.c_str(), path.c_str()) != 0) {
        why = std::strerror(errno);
        written = false;
    }
    if (!written)
        unlink(temporary.c_str());
    return written;
}

} // namespace

json RecordJson(const ReceiverRecord& record, const ImageFile& image)
{
    json line = PortResultJson(record.result, image);
    const PortEntry& port = record.port;
    line["number"] = record.number;
    line["time"] = record.time;
    line["stable_name"] = OrNull(port.stableName);
    line["usb_serial"] = OrNull(port.serial);
    line["usb_id"] = port.vendorId.empty() ? json() : json(JsonText(port.vendorId + ":" + port.modelId));
    return line;
}

std::string JUnitXml(const std::vector<ReceiverRecord>& records, const ImageFile& image)
{
    int failures = 0;
    int skipped = 0;
    double seconds = 0;
    std::string cases;
    for (const ReceiverRecord& record : records) {
        const PortResult& result = record.result;
        const std::string& name = record.port.stableName.empty() ? record.port.name : record.port.stableName;
        cases += "    <testcase classname=\"velmor-cli.watch\" name=\"" + XmlText(std::to_string(record.number) + " "
                 + name) + "\" time=\"" + Seconds(result.seconds) + "\" timestamp=\"" + record.time + "\">\n";
        if (result.code != kExitSuccess) {
            ++failures;
            cases += "      <failure type=\"" + std::string(FaultName(result.update.outcome.fault)) + "\" message=\""
                + XmlText(result.message) + "\"/>\n";
        } else if (result.update.skipped) {
            ++skipped;
            cases += "      <skipped message=\"" + XmlText(result.message) + "\"/>\n";
        }
        cases += "      <system-out>" + XmlText(RecordJson(record, image).dump()) + "</system-out>\n";
        cases += "    </testcase>\n";
        seconds += result.seconds;
    }
    const std::string counts = " tests=\"" + std::to_string(records.size()) + "\" failures=\""
        + std::to_string(failures) + "\" errors=\"0\" skipped=\"" + std::to_string(skipped) + "\" time=\""
        + Seconds(seconds) + "\"";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" + counts + ">\n  <testsuite name=\"velmor-cli watch "
        + XmlText(image.path) + "\"" + counts + ">\n    <properties>\n      <property name=\"image_sha256\" value=\""
        + ToHex(image.snapshot->sha256) + "\"/>\n    </properties>\n" + cases + "  </testsuite>\n</testsuites>\n";
}

ReportFiles::~ReportFiles()
{
    if (m_report)
        std::fclose(m_report);
}

bool ReportFiles::Open(const std::string& reportPath, const std::string& junitPath, std::string& why)
{
    if (!reportPath.empty() && !(m_report = OpenForAppend(reportPath, why))) {
        why = reportPath + ": " + why;
        return false;
    }
    m_junitPath = junitPath;
    if (!junitPath.empty() && !ReplaceFile(junitPath, JUnitXml(m_records, m_image), why)) {
        why = junitPath + ": " + why;
        return false;
    }
    return true;
}

bool ReportFiles::Add(ReceiverRecord record)
{
    bool written = true;
    if (m_report) {
        const std::string line = RecordJson(record, m_image).dump() + "\n";
        written = std::fwrite(line.data(), 1, line.size(), m_report) == line.size() && std::fflush(m_report) == 0;
        if (!written)
            std::fprintf(stderr, "velmor-cli: the report could not be written: %s\n", std::strerror(errno));
    }
    m_records.push_back(std::move(record));
    std::string why;
    if (!m_junitPath.empty() && !ReplaceFile(m_junitPath, JUnitXml(m_records, m_image), why)) {
        std::fprintf(stderr, "velmor-cli: %s could not be written: %s\n", m_junitPath.c_str(), why.c_str());
        written = false;
    }
    return written;
}

} // namespace velmor::cli
