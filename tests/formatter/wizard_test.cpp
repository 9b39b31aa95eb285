// The wizard's Continue on store images: the steps in order, every failure
// reported to the wizard's owner and followed as far as it should be.
#include "formatter/store_format_dialog.h"
#include "tests/formatter/box_recorder.h"
#include "tests/formatter/failing_storage.h"
#include "tests/formatter/store_image.h"
#include "tests/platform/gui_wait.h"

#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

namespace quillon::test {
namespace {

using platform::test::RunModal;

constexpr int kCancel = 1001;
constexpr int kContinue = 1002;
constexpr int kStatus = 1003;
constexpr std::chrono::milliseconds kRebootDelay {500};

const std::wstring kWizardText =
    L"To increase performance and security, this version requires to format the internal \\MyDevice storage. "
    L"Before continuing, be sure to backup your data on SD card so that all file on \\MyDevice can be deleted. ";
const std::wstring kUnmounting = L"Unmounting internal store ...";
const std::wstring kFormatting = L"Formatting internal store ...";
const std::wstring kCreating = L"Creating new partition ...";
const ExpectedBox kRebooting {L"Wizard finished successfully. Rebooting.", L"Quillon"};
const ExpectedBox kNotCreated {L"Can't create USER partition.", L"Partition information"};
const std::vector<std::string> kType6 {"start=2048, size=63488, type=6"};
const std::vector<std::string> kType4 {kWholeStoreType4};
const std::vector<std::string> kNoPartition {};

// Opens the wizard on `storage`, runs `before`, clicks Continue as a user
// would, runs `after` and closes the wizard. Returns the wizard's window.
QWidget* Continue(platform::Storage& storage, BoxRecorder& boxes, const std::function<void(StoreFormatDialog&)>& before,
                  const std::function<void(StoreFormatDialog&)>& after)
{
    StoreFormatDialog wizard(storage, boxes.Binder());
    RunModal(wizard, [&] {
        if (before)
            before(wizard);
        QTest::mouseClick(wizard.Item(kContinue), Qt::LeftButton);
        if (after)
            after(wizard);
        wizard.EndDialog(platform::kIdOk);
    });
    return wizard.Widget();
}

std::vector<ExpectedBox> OwnedBy(QWidget* owner, std::vector<ExpectedBox> boxes)
{
    for (ExpectedBox& box : boxes)
        box.owner = owner;
    return boxes;
}

// The status text a label last showed on screen.
class PaintedText : public QObject {
public:
    explicit PaintedText(QWidget* label) : m_label(qobject_cast<QLabel*>(label)) { m_label->installEventFilter(this); }
    ~PaintedText() override { m_label->removeEventFilter(this); }
    const std::wstring& Text() const { return m_text; }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            m_text = m_label->text().toStdWString();
        return false;
    }

private:
    QLabel* m_label;
    std::wstring m_text;
};

// No events are handled during Continue: a step is on screen only if the
// wizard repainted before the storage call.
TEST(WizardTest, ShowsEachStepAsItRunsAndDismountsOnlyAMountedStore)
{
    for (const bool mounted : {false, true}) {
        SCOPED_TRACE(mounted ? "mounted" : "not mounted");
        StoreImage image;
        BoxRecorder boxes;
        image.Partition(0x06);
        FailingStorage storage;
        if (mounted)
            storage.ReportMounted();
        std::map<Op, std::wstring> shownAt;
        std::unique_ptr<PaintedText> painted;
        storage.OnCall([&](Op op) {
            if (painted)
                shownAt[op] = painted->Text();
        });
        const auto watch = [&](StoreFormatDialog& dialog) { painted = std::make_unique<PaintedText>(dialog.Item(kStatus)); };
        QWidget* wizard = Continue(storage, boxes, watch, [&](StoreFormatDialog&) { painted.reset(); });

        EXPECT_EQ(shownAt.count(Op::DismountStore), mounted ? 1u : 0u);
        if (mounted) {
            EXPECT_EQ(shownAt[Op::DismountStore], kUnmounting);
        }
        EXPECT_EQ(shownAt[Op::FormatStore], kFormatting);
        EXPECT_EQ(shownAt[Op::CreatePartition], kCreating);
        EXPECT_EQ(image.Partitions(), kType4);
        ExpectBoxes(boxes, OwnedBy(wizard, {kRebooting}));
        EXPECT_EQ(image.RebootRequests(), 1);
        EXPECT_EQ(storage.OpenHandles(), 0u);
        EXPECT_EQ(storage.BadCloses(), 0);

        const auto& calls = storage.Calls();
        const auto reboot = std::find_if(calls.begin(), calls.end(), [](const StorageCall& call) {
            return call.op == Op::KernelIoControl;
        });
        ASSERT_NE(reboot, calls.end());
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_GE(reboot->at - boxes.Boxes()[0].at, kRebootDelay);
    }
}

TEST(WizardTest, FailuresAreReportedAndThePartitionIsStillMadeWhenItCanBe)
{
    using Failure = FailingStorage::Failure;
    const struct {
        const char* legend;
        Op failing;
        int call;
        Failure how;
        bool mounted;
        std::vector<ExpectedBox> boxes;
        std::wstring status;
        bool buttonsEnabled;
        std::vector<std::string> partitions;
    } rows[] = {
        {"store not opened", Op::OpenStore, 1, Failure::Refuse, false,
         {{L"Can't open USER store.", L"Store information"}}, kWizardText, true, kType6},
        {"partition not opened", Op::OpenPartition, 1, Failure::Refuse, false,
         {{L"Can't open USER partition.", L"Partition information"}, kNotCreated}, kCreating, true, kType6},
        {"no partition information", Op::GetPartitionInfo, 1, Failure::Refuse, false,
         {{L"Can't get USER partition information.", L"Partition information"}, kNotCreated}, kCreating, true, kType6},
        {"dismount fails", Op::DismountStore, 1, Failure::Refuse, true,
         {{L"Error unmounting store.", L"Unmount store"}, kNotCreated}, kCreating, false, kType6},
        {"format fails", Op::FormatStore, 1, Failure::Refuse, false,
         {{L"Format error.", L"Format store"}, kNotCreated}, kCreating, false, kType6},
        {"format fails after emptying the table", Op::FormatStore, 1, Failure::AfterDoing, false,
         {{L"Format error.", L"Format store"}, kRebooting}, kCreating, false, kType4},
        {"store not opened again", Op::OpenStore, 2, Failure::Refuse, false, {}, kCreating, false, kNoPartition},
        {"no store information", Op::GetStoreInfo, 1, Failure::Refuse, false, {}, kCreating, false, kNoPartition},
        {"partition not created", Op::CreatePartition, 1, Failure::Refuse, false, {kNotCreated}, kCreating, false,
         kNoPartition},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        StoreImage image;
        BoxRecorder boxes;
        image.Partition(0x06);
        FailingStorage storage;
        storage.Fail(row.failing, row.call, row.how);
        if (row.mounted)
            storage.ReportMounted();
        QWidget* wizard = Continue(storage, boxes, {}, [&](StoreFormatDialog& dialog) {
            EXPECT_EQ(dialog.ItemText(kStatus), row.status);
            EXPECT_EQ(dialog.IsItemEnabled(kContinue), row.buttonsEnabled);
            EXPECT_EQ(dialog.IsItemEnabled(kCancel), row.buttonsEnabled);
        });
        ExpectBoxes(boxes, OwnedBy(wizard, row.boxes));
        EXPECT_EQ(image.Partitions(), row.partitions);
        EXPECT_EQ(image.RebootRequests(), row.partitions == kType4 ? 1 : 0);
        EXPECT_EQ(storage.OpenHandles(), 0u);
        EXPECT_EQ(storage.BadCloses(), 0);
    }
}

} // namespace
} // namespace quillon::test
