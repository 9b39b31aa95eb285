// Which sfld.hex an image without its own SFLD gets: the one beside the program,
// else the installed one, as files are there, missing or broken. This program's
// folder holds no sfld.hex of its own, so the test can take it away.
#include "loader/upload/image_preparation.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "receiver/sample_image.h"
#include "tests/support/image_files.h"
#include "tests/support/log_recorder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace velmor {
namespace {

TEST(SfldChoice, BesideTheProgramThenInstalled)
{
    // The installed layout: the data folder is ../share/velmor/ from the programs'.
    const std::string programDir = platform::ProgramDirectory();
    const std::string dataDir = std::filesystem::path(programDir + "../share/velmor/").lexically_normal().string();
    const std::string beside = programDir + "sfld.hex", installed = dataDir + "sfld.hex";
    test::TempDir dir;
    const std::string image = dir.File("image.bin");
    test::WriteFile(image, receiver::MakeSampleImage({}));

    const std::string good = receiver::MakeSampleSfld(), broken = "S3 not a record\n", none;
    const struct {
        std::string beside, installed;
        const wchar_t* last;   // the pane's last line
    } rows[] = {
        {good, none, L"Complete"},
        {none, good, L"Complete"},
        {none, broken, L"Incorrect SFLD."},
        {good, broken, L"Complete"},
        {broken, good, L"Incorrect SFLD."},   // one beside the program is never passed over
    };
    for (const auto& row : rows) {
        std::filesystem::remove(beside);
        std::filesystem::remove_all(dataDir);
        std::filesystem::create_directories(dataDir);
        if (!row.beside.empty())
            test::WriteFile(beside, row.beside);
        if (!row.installed.empty())
            test::WriteFile(installed, row.installed);
        test::LogRecorder log;
        UploadJob job;
        PrepareImage(ReadImage(image), job, log);
        const auto lines = log.PaneLines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[2], row.last);   // after "Opening SFLD ..." and "SFLD section skipped"
    }
    // Neither there: the Load stops, naming both places.
    std::filesystem::remove(beside);
    std::filesystem::remove_all(dataDir);
    test::LogRecorder log;
    UploadJob job;
    EXPECT_EQ(PrepareImage(ReadImage(image), job, log).fault, Fault::ImageRefused);
    EXPECT_EQ(log.StatusLines(), (std::vector<std::wstring> {platform::Widen("Can not open '" + beside + "'"),
                                                             platform::Widen("Can not open '" + installed + "'")}));
}

} // namespace
} // namespace velmor
