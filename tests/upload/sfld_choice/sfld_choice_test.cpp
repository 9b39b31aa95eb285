// The SFLD beside the program missing or broken. This program's folder holds
// no sfld.hex of its own, so the test can take it away.
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

TEST(SfldChoice, MissingOrBrokenSfldHex)
{
    const std::string sfldHex = platform::ProgramDirectory() + "sfld.hex";
    std::filesystem::remove(sfldHex);
    test::TempDir dir;
    const std::string image = dir.File("image.bin");
    test::WriteFile(image, receiver::MakeSampleImage({}));
    test::LogRecorder log;
    UploadJob job;

    EXPECT_EQ(PrepareImage(ReadImage(image), job, log).fault, Fault::ImageRefused);
    EXPECT_EQ(log.StatusLines(), std::vector<std::wstring> {platform::Widen("Can not open '" + sfldHex + "'")});

    log.Reset();
    test::WriteFile(sfldHex, std::string("S3 not a record\n"));
    EXPECT_EQ(PrepareImage(ReadImage(image), job, log).fault, Fault::ImageRefused);
    EXPECT_EQ(log.PaneLines(), (std::vector<std::wstring> {L"Opening SFLD ...", L"SFLD section skipped",
                                                          L"Incorrect SFLD."}));
    std::filesystem::remove(sfldHex);
}

} // namespace
} // namespace velmor
