// velmor-mkimage: writes a sample firmware image (binary or S-record) and,
// if asked, a sample SFLD file, for tests and the demo.
#include "platform/version.h"
#include "receiver/command_line.h"
#include "receiver/sample_image.h"

#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

namespace {

constexpr const char* kUsage =
    "Usage: velmor-mkimage [OPTION]...\n"
    "Writes a sample firmware image (binary or S-record) and, if asked, a sample SFLD file.\n"
    "\n"
    "  -o FILE             the image to write (binary unless --srec)\n"
    "  --srec              write Motorola S-records instead of a binary image\n"
    "  --pfld-version M.N  PFLD version (default 1.07)\n"
    "  --fw-version TEXT   FW version text (default V2.15)\n"
    "  --pfld-size N       PFLD end minus start, a multiple of 4 (default 0x2000)\n"
    "  --fw-size N         FW end minus start, a multiple of 4 (default 0x20000)\n"
    "  --seed N            filler seed (default 1)\n"
    "  --sfld FILE         append FILE (S-record text) as the SFLD section\n"
    "  --sfld-version T    version text of the sample SFLD that --write-sfld writes;\n"
    "                      without --sfld, also append such an SFLD as the SFLD section\n"
    "  --bad-checksum S    store a wrong checksum for section S: pfld, fw or sfld\n"
    "  --write-sfld FILE   also write a sample SFLD S-record file\n"
    "  -h, --help          show this help and exit\n"
    "  --version           show the version and exit\n";

const std::map<std::string, receiver::ChecksumFault> kSectionNames = {
    {"pfld", receiver::ChecksumFault::Pfld},
    {"fw", receiver::ChecksumFault::Fw},
    {"sfld", receiver::ChecksumFault::Sfld},
};

[[noreturn]] void UsageError(const std::string& message)
{
    receiver::UsageError("velmor-mkimage", kUsage, message);
}

uint32_t Number(const std::string& text)
{
    return uint32_t(receiver::ParseNumber("velmor-mkimage", kUsage, text, 0xFFFFFFFFu));
}

void Write(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), std::streamsize(content.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace

int main(int argc, char** argv)
{
    receiver::SampleImageOptions options;
    std::string output;
    std::string sfldOutput;
    std::string sfldVersion;
    bool srecord = false;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                UsageError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "-o" || arg == "--output") {
            output = value();
        } else if (arg == "--srec") {
            srecord = true;
        } else if (arg == "--pfld-version") {
            options.pfldVersion = value();
        } else if (arg == "--fw-version") {
            options.fwVersion = value();
        } else if (arg == "--pfld-size") {
            options.pfldSize = Number(value());
        } else if (arg == "--fw-size") {
            options.fwSize = Number(value());
        } else if (arg == "--seed") {
            options.seed = Number(value());
        } else if (arg == "--sfld") {
            options.sfldPath = value();
        } else if (arg == "--sfld-version") {
            sfldVersion = value();
        } else if (arg == "--bad-checksum") {
            const std::string name = value();
            const auto found = kSectionNames.find(name);
            if (found == kSectionNames.end())
                UsageError("unknown section: " + name);
            options.badChecksum = found->second;
        } else if (arg == "--write-sfld") {
            sfldOutput = value();
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--version") {
            std::cout << "velmor-mkimage " << platform::kVersion << "\n";
            return 0;
        } else {
            UsageError("unknown option: " + arg);
        }
    }
    if (output.empty() && sfldOutput.empty())
        UsageError("nothing to write: give -o FILE or --write-sfld FILE");

    if (options.sfldPath.empty())
        options.sfldVersion = sfldVersion;

    try {
        if (!sfldOutput.empty())
            Write(sfldOutput, receiver::MakeSampleSfld(options.seed, sfldVersion.empty()
                                                                   ? receiver::kSampleSfldVersion
                                                                   : std::string_view(sfldVersion)));
        if (!output.empty()) {
            if (srecord) {
                Write(output, receiver::MakeSampleSRecords(options));
            } else {
                const auto image = receiver::MakeSampleImage(options);
                Write(output, std::string(image.begin(), image.end()));
            }
        }
    } catch (const std::exception& e) {
        std::cerr << "velmor-mkimage: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
