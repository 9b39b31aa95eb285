// Position and satellite sentences.
#include "receiver/position_stream.h"

#include "receiver/nmea_sentence.h"

#include <cstdio>
#include <ctime>
#include <iterator>

namespace receiver {
namespace {

constexpr const char* kLatitude = "5212.3456,N";
constexpr const char* kLongitude = "00424.5678,E";
constexpr const char* kAltitude = "12.3,M";
constexpr const char* kFixQuality = "1";       // a GPS fix
constexpr const char* kUsedCount = "08";
constexpr const char* kSatellitesUsed = "04,05,09,12,24,25,29,31,,,,";
constexpr const char* kDilution = "1.8,0.9,1.5";   // PDOP, HDOP, VDOP
// Satellite in view: number, elevation, azimuth, signal to noise; four to a GSV line.
constexpr const char* kInView[] = {
    "04,45,123,42,05,30,047,40,09,67,289,45,12,12,310,33",
    "24,55,201,44,25,20,085,38,29,40,160,41,31,08,250,30",
};
constexpr int kInViewCount = 8;
constexpr size_t kCutLength = 20;   // keeps the cut well inside the line

struct UtcFields {
    char time[32];   // hhmmss.ss; room for any int, to keep the compiler sure
    char date[32];   // ddmmyy
};

UtcFields Utc(PositionStream::SystemClock::time_point when)
{
    const std::time_t seconds = PositionStream::SystemClock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    UtcFields fields{};
    std::snprintf(fields.time, sizeof fields.time, "%02d%02d%02d.00", utc.tm_hour, utc.tm_min, utc.tm_sec);
    std::snprintf(fields.date, sizeof fields.date, "%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1,
                  utc.tm_year % 100);
    return fields;
}

std::string GgaBody(const UtcFields& utc)
{
    return std::string("GPGGA,") + utc.time + ',' + kLatitude + ',' + kLongitude + ',' + kFixQuality + ','
        + kUsedCount + ",0.9," + kAltitude + ",46.9,M,,";
}

} // namespace

std::string PositionStream::Burst(SystemClock::time_point when, bool position, bool satellites) const
{
    const UtcFields utc = Utc(when);
    std::string out;
    if (position)
        out += NmeaLine(GgaBody(utc));
    if (satellites) {
        out += NmeaLine(std::string("GPGSA,A,3,") + kSatellitesUsed + ',' + kDilution);
        const int lines = int(std::size(kInView));
        for (int i = 0; i < lines; ++i) {
            char head[24];
            std::snprintf(head, sizeof head, "GPGSV,%d,%d,%02d,", lines, i + 1, kInViewCount);
            out += NmeaLine(head + std::string(kInView[i]));
        }
    }
    if (position)
        out += NmeaLine(std::string("GPRMC,") + utc.time + ",A," + kLatitude + ',' + kLongitude + ",0.0,0.0,"
                        + utc.date + ",,,A");
    return out;
}

std::string PositionStream::FixFields(SystemClock::time_point when) const
{
    const UtcFields utc = Utc(when);
    return std::string(utc.time) + ',' + utc.date + ',' + kLatitude + ',' + kLongitude + ',' + kAltitude + ','
        + kFixQuality + ',' + kUsedCount;
}

std::string PositionStream::CutSentence(SystemClock::time_point when) const
{
    return NmeaLine(GgaBody(Utc(when))).substr(0, kCutLength);
}

} // namespace receiver
