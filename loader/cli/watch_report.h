// The production line's records: one JSON line per receiver appended to the
// report as it finishes, and a JUnit XML file for CI rewritten whole after
// each receiver, so either file can be read at any moment.
#pragma once

#include "loader/cli/flash_job.h"
#include "loader/cli/port_list.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace velmor::cli {

struct ReceiverRecord {
    int number = 0;     // in the order the ports were taken, from 1
    std::string time;   // when it finished, ISO 8601 in UTC
    PortEntry port;     // the stable name, USB ids and serial number where known
    PortResult result;
};

nlohmann::json RecordJson(const ReceiverRecord& record, const ImageFile& image);
// One test case per receiver: a failure for every exit code but 0, skipped
// for a receiver that held the image's firmware already.
std::string JUnitXml(const std::vector<ReceiverRecord>& records, const ImageFile& image);

class ReportFiles {
public:
    explicit ReportFiles(const ImageFile& image) : m_image(image) {}
    ~ReportFiles();
    ReportFiles(const ReportFiles&) = delete;
    ReportFiles& operator=(const ReportFiles&) = delete;

    // Either path may be empty (no such file). The JUnit file is written at
    // once, empty; false with `why` when a file cannot be had.
    bool Open(const std::string& reportPath, const std::string& junitPath, std::string& why);
    // False, said on standard error, when a file could not be written.
    bool Add(ReceiverRecord record);

private:
    const ImageFile& m_image;
    FILE* m_report = nullptr;
    std::string m_junitPath;
    std::vector<ReceiverRecord> m_records;
};

} // namespace velmor::cli
