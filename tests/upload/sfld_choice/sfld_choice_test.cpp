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
#include <optional>

namespace velmor {
namespace {

TEST(SfldChoice, BesideTheProgramThenInstalled)
{
    // The installed layout: the data folder ../share/velmor/ from the programs'.
    const std::string programDir = platform::ProgramDirectory();
    const std::string dataDir = std::filesystem::path(programDir + "../share/velmor/").lexically_normal().string();
    const std::string beside = programDir + "sfld.hex";
    const std::string installed = dataDir + "sfld.hex";
    test::TempDir dir;
    const std::string image = dir.File("image.bin");
    test::WriteFile(image, receiver::MakeSampleImage({}));

    const std::string good = receiver::MakeSampleSfld();
    const std::string broken = "S3 not a record\n";
    const std::vector<std::wstring> taken {L"Opening SFLD ...", L"SFLD section skipped", L"Complete"};
    const std::vector<std::wstring> refused {L"Opening SFLD ...", L"SFLD section skipped", L"Incorrect SFLD."};
    const struct {
        const char* legend;
        std::optional<std::string> beside, installed;
        bool ok;
        std::vector<std::wstring> pane;
    } rows[] = {
        {"only beside", good, std::nullopt, true, taken},
        {"only installed", std::nullopt, good, true, taken},
        {"installed broken", std::nullopt, broken, false, refused},
        {"beside wins over installed", good, broken, true, taken},
        {"a broken one beside is not passed over", broken, good, false, refused},
    };
    for (const auto& row : rows) {
        std::filesystem::remove(beside);
        std::filesystem::remove_all(dataDir);
        if (row.beside)
            test::WriteFile(beside, *row.beside);
        if (row.installed) {
            std::filesystem::create_directories(dataDir);
            test::WriteFile(installed, *row.installed);
        }
        test::LogRecorder log;
        SRecordReader sfld;
        EXPECT_EQ(ChooseSecondaryLoader(platform::Widen(image), sfld, log), row.ok) << row.legend;
        EXPECT_EQ(log.PaneLines(), row.pane) << row.legend;
        EXPECT_TRUE(log.StatusLines().empty()) << row.legend;
    }
    std::filesystem::remove(beside);
    std::filesystem::remove_all(dataDir);

    // Neither there: the whole Load stops, naming both places.
    test::LogRecorder log;
    UploadJob job;
    EXPECT_FALSE(PrepareImage(platform::Widen(image), job, log));
    EXPECT_EQ(log.StatusLines(), (std::vector<std::wstring> {platform::Widen("Can not open '" + beside + "'"),
                                                             platform::Widen("Can not open '" + installed + "'")}));
}

} // namespace
} // namespace velmor
