// The store formatter on store images: which stores get the wizard, a message
// or nothing at start-up, and the wizard's Continue with each step failing in turn.
#include "formatter/notices.h"
#include "formatter/quillon_resources.h"
#include "formatter/store_format_app.h"
#include "formatter/store_format_dialog.h"
#include "platform/dialog/dialog_template.h"
#include "tests/formatter/store_image.h"
#include "tests/platform/gui_wait.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <utility>

namespace quillon::test {
namespace {

using platform::kInvalidStorageHandle;
using platform::StorageHandle;
using Clock = std::chrono::steady_clock;

enum class Op { OpenStore, OpenPartition, GetPartitionInfo, GetStoreInfo, DismountStore, FormatStore, CreatePartition };

// The system storage on the store image, with one operation made to fail where a test asks.
class FailingStorage final : public platform::Storage {
public:
    // Fails the `call`-th call of `op` (from 1; 0: every call).
    void Fail(Op op, int call = 0) { m_failing = {op, call}; }

    bool mounted = false;             // partitions report themselves mounted, so the store gets dismounted
    std::function<void(Op)> onCall;   // runs before each operation that can fail
    Clock::time_point rebootAt;       // of the last reboot request

    StorageHandle OpenStore(const std::wstring& name) override
    {
        return Run(Op::OpenStore, [&] { return m_real.OpenStore(name); }, kInvalidStorageHandle);
    }
    StorageHandle FindFirstPartition(StorageHandle store, platform::PartInfo& info) override
    {
        return m_real.FindFirstPartition(store, info);
    }
    bool FindClosePartition(StorageHandle search) override { return m_real.FindClosePartition(search); }
    StorageHandle OpenPartition(StorageHandle store, const std::u16string& name) override
    {
        return Run(Op::OpenPartition, [&] { return m_real.OpenPartition(store, name); }, kInvalidStorageHandle);
    }
    bool GetPartitionInfo(StorageHandle partition, platform::PartInfo& info) override
    {
        const bool known = Run(Op::GetPartitionInfo, [&] { return m_real.GetPartitionInfo(partition, info); }, false);
        if (known && mounted)
            info.attributes |= platform::kPartitionMounted;
        return known;
    }
    bool GetStoreInfo(StorageHandle store, platform::StoreInfo& info) override
    {
        return Run(Op::GetStoreInfo, [&] { return m_real.GetStoreInfo(store, info); }, false);
    }
    bool DismountStore(StorageHandle store) override
    {
        return Run(Op::DismountStore, [&] { return m_real.DismountStore(store); }, false);
    }
    bool FormatStore(StorageHandle store) override
    {
        return Run(Op::FormatStore, [&] { return m_real.FormatStore(store); }, false);
    }
    bool CreatePartition(StorageHandle store, const std::u16string& name, uint8_t type, uint64_t sectors) override
    {
        return Run(Op::CreatePartition, [&] { return m_real.CreatePartition(store, name, type, sectors); }, false);
    }
    bool CloseHandle(StorageHandle handle) override { return m_real.CloseHandle(handle); }
    void KernelIoControl(uint32_t code) override
    {
        rebootAt = Clock::now();
        m_real.KernelIoControl(code);
    }

private:
    // Runs `real`, unless this is the call to fail.
    template <typename Real>
    auto Run(Op op, Real real, decltype(real()) failed) -> decltype(real())
    {
        if (onCall)
            onCall(op);
        const int number = ++m_counts[op];
        if (m_failing && m_failing->first == op && (m_failing->second == 0 || m_failing->second == number))
            return failed;
        return real();
    }

    platform::Storage& m_real = platform::SystemStorage();
    std::optional<std::pair<Op, int>> m_failing;   // the operation and which call of it
    std::map<Op, int> m_counts;
};

// Answers the formatter's message boxes in place of real ones and keeps them in
// order, each with the window it belonged to; it also stands in while no owner is bound.
class BoxRecorder {
public:
    using Box = std::tuple<std::wstring, std::wstring, QWidget*, platform::MessageButtons, platform::MessageIcon>;

    BoxRecorder() : m_previous(platform::SetMessageBoxHandler(Handler(nullptr))) {}
    ~BoxRecorder() { platform::SetMessageBoxHandler(std::move(m_previous)); }

    MessageBinder Binder()
    {
        return [this](platform::Dialog* owner) {
            return platform::SetMessageBoxHandler(Handler(owner ? owner->Widget() : nullptr));
        };
    }

    // The notices in order, all owned by `owner`, each with an OK button and the exclamation icon.
    void Expect(QWidget* owner, const std::vector<Notice>& notices) const
    {
        std::vector<Box> expected;
        for (const Notice& notice : notices)
            expected.emplace_back(notice.text, notice.caption, owner, platform::MessageButtons::Ok,
                                  platform::MessageIcon::Exclamation);
        EXPECT_EQ(m_boxes, expected);
    }

    Clock::time_point lastAt;   // when the last box was answered

private:
    platform::MessageBoxHandler Handler(QWidget* owner)
    {
        return [this, owner](const platform::Message& message) {
            m_boxes.emplace_back(message.text, message.caption, owner, message.buttons, message.icon);
            lastAt = Clock::now();
            return platform::MessageAnswer::Ok;
        };
    }

    std::vector<Box> m_boxes;
    platform::MessageBoxHandler m_previous;
};

const std::vector<std::string> kType6 {"start=2048,size=63488,type=6"};
const std::vector<std::string> kType4 {kWholeStoreType4};

// Runs the start-up check and closes a wizard that comes up with its Cancel
// button. True when the wizard came up.
bool RunStartUp(platform::Storage& storage, BoxRecorder& boxes)
{
    StoreFormatApp app(storage, boxes.Binder());
    bool shown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* wizard = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!wizard)
            return;
        if (std::exchange(shown, true)) {
            ADD_FAILURE() << "Cancel left the wizard open";
            wizard->done(platform::kIdCancel);
            return;
        }
        for (auto* button : wizard->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Cancel"))
                button->click();
    });
    poll.start(5);
    EXPECT_FALSE(app.InitInstance());
    return shown;
}

// Every store gets the wizard (the old layout; Cancel leaves it as it was), a
// message, or nothing. A store with no partition (blank, or an empty table) is
// met like a partition that cannot be opened: reported, then made unasked in
// the layout the wizard leaves. A store holding a filesystem, data, or a table
// the storage layer does not handle is left as it is.
TEST(StartUpTest, EachStoreGetsTheWizardAMessageOrNothing)
{
    const struct {
        const char* legend;
        std::string sfdisk;   // sfdisk script run on the store
        std::string mkfs;     // a filesystem made over the whole store
        uint64_t noise;       // bytes of random data then written from the store's start
        std::optional<Op> failing;
        std::vector<Notice> boxes;
        bool wizard;
        bool created;   // one type 4 partition over the store now; else the store is unchanged
    } rows[] = {
        {"type 6", "type=6", "", 0, {}, {}, true, false},
        {"type 4", "type=4", "", 0, {}, {kFinishedNoReboot}, false, false},
        {"type 0b", "type=b", "", 0, {}, {}, false, false},
        {"store not opened", "type=6", "", 0, Op::OpenStore, {kStoreNotOpened}, false, false},
        {"partition not opened", "type=6", "", 0, Op::OpenPartition, {kPartitionNotOpened}, false, false},
        {"no partition information", "type=6", "", 0, Op::GetPartitionInfo, {}, false, false},
        {"blank store", "", "", 0, {}, {kPartitionNotOpened}, false, true},
        {"empty table", "label: dos", "", 0, {}, {kPartitionNotOpened}, false, true},
        {"FAT over the whole store", "", "mkfs.vfat", 0, {}, {kPartitionNotOpened}, false, false},
        {"ext2 over the whole store", "", "mkfs.ext2 -q -F", 0, {}, {kPartitionNotOpened}, false, false},
        {"empty GPT", "label: gpt", "", 0, {}, {kPartitionNotOpened}, false, false},
        {"GPT with a partition", "label: gpt\n,", "", 0, {}, {}, false, false},
        {"random data", "", "", kStoreBytes, {}, {kPartitionNotOpened}, false, false},
        {"FAT, boot sector damaged", "", "mkfs.vfat", 512, {}, {kPartitionNotOpened}, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        StoreImage image;
        if (!row.sfdisk.empty())
            image.Sfdisk(row.sfdisk);
        if (!row.mkfs.empty())
            image.Filesystem(row.mkfs);
        image.Noise(row.noise);
        const std::vector<char> before = image.Bytes();
        BoxRecorder boxes;
        FailingStorage storage;
        if (row.failing)
            storage.Fail(*row.failing);
        EXPECT_EQ(RunStartUp(storage, boxes), row.wizard);
        boxes.Expect(nullptr, row.boxes);
        EXPECT_EQ(image.RebootRequests(), 0);
        if (row.created) {
            EXPECT_EQ(image.Partitions(), kType4);
        } else {
            EXPECT_TRUE(image.Bytes() == before);
        }
    }
}

// Keeps the text a label last showed on screen.
struct PaintedText : QObject {
    explicit PaintedText(QWidget* widget) : label(qobject_cast<QLabel*>(widget)) { label->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            text = label->text().toStdWString();
        return false;
    }

    QLabel* label;
    std::wstring text;
};

// Continue on a type 6 store: each failure is reported to the wizard and
// followed as far as it should be, the partition still made when it can be.
// No events are handled during Continue: a step is on screen only if the
// wizard repainted before its storage call.
TEST(WizardTest, ContinueShowsEachStepAndReportsEveryFailure)
{
    constexpr std::chrono::milliseconds kRebootDelay {500};
    const std::wstring kIntroduction =
        L"To increase performance and security, this version requires to format the internal \\MyDevice storage. "
        L"Before continuing, be sure to backup your data on SD card so that all file on \\MyDevice can be deleted. ";
    const std::wstring kCreating = L"Creating new partition ...";
    const std::map<Op, std::wstring> kStepTexts {{Op::DismountStore, L"Unmounting internal store ..."},
                                                 {Op::FormatStore, L"Formatting internal store ..."},
                                                 {Op::CreatePartition, kCreating}};
    const struct {
        const char* legend;
        std::optional<Op> failing;
        int call;
        bool mounted;
        std::vector<Notice> boxes;
        std::wstring status;
        bool buttonsEnabled;
        std::vector<std::string> partitions;
        uint64_t bytes = kStoreBytes;
    } rows[] = {
        {"converted", {}, 0, false, {kFinishedRebooting}, kCreating, false, kType4},
        {"converted after a dismount", {}, 0, true, {kFinishedRebooting}, kCreating, false, kType4},
        {"converted, as far as an MBR reaches", {}, 0, false, {kFinishedRebooting}, kCreating, false,
         {"start=2048,size=4294965248,type=4"}, 3ull << 40},
        {"store not opened", Op::OpenStore, 1, false, {kStoreNotOpened}, kIntroduction, true, kType6},
        {"partition not opened", Op::OpenPartition, 1, false, {kPartitionNotOpened, kPartitionNotCreated},
         kCreating, true, kType6},
        {"no partition information", Op::GetPartitionInfo, 1, false, {kNoPartitionInfo, kPartitionNotCreated},
         kCreating, true, kType6},
        {"dismount fails", Op::DismountStore, 1, true, {kDismountFailed, kPartitionNotCreated}, kCreating,
         false, kType6},
        {"format fails", Op::FormatStore, 1, false, {kFormatFailed, kPartitionNotCreated}, kCreating, false, kType6},
        {"store not opened again", Op::OpenStore, 2, false, {}, kCreating, false, {}},
        {"no store information", Op::GetStoreInfo, 1, false, {}, kCreating, false, {}},
        {"partition not created", Op::CreatePartition, 1, false, {kPartitionNotCreated}, kCreating, false, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        StoreImage image(row.bytes);
        image.Sfdisk("type=6");
        BoxRecorder boxes;
        FailingStorage storage;
        if (row.failing)
            storage.Fail(*row.failing, row.call);
        storage.mounted = row.mounted;
        std::map<Op, std::wstring> painted;   // the status on screen at each storage call
        StoreFormatDialog wizard(storage, boxes.Binder());
        platform::test::RunModal(wizard, [&] {
            EXPECT_EQ(wizard.Widget()->windowTitle(), QStringLiteral("Quillon V1.1"));
            const QList<QSize> iconSizes = wizard.Widget()->windowIcon().availableSizes();
            EXPECT_TRUE(iconSizes.contains(QSize(32, 32)) && iconSizes.contains(QSize(16, 16)));
            PaintedText status(wizard.Item(kStatusId));
            storage.onCall = [&](Op op) { painted[op] = status.text; };
            QTest::mouseClick(wizard.Item(kContinueId), Qt::LeftButton);
            storage.onCall = nullptr;
            EXPECT_EQ(wizard.ItemText(kStatusId), row.status);
            EXPECT_EQ(wizard.IsItemEnabled(kContinueId), row.buttonsEnabled);
            EXPECT_EQ(wizard.IsItemEnabled(kCancelId), row.buttonsEnabled);
            EXPECT_TRUE(wizard.Widget()->isVisible());   // until the machine goes down or the user closes it
            wizard.EndDialog(platform::kIdOk);
        });
        for (const auto& [op, text] : kStepTexts)
            if (painted.count(op)) {
                EXPECT_EQ(painted[op], text);
            }
        EXPECT_EQ(painted.count(Op::DismountStore), row.mounted ? 1u : 0u);
        boxes.Expect(wizard.Widget(), row.boxes);
        EXPECT_EQ(image.Partitions(), row.partitions);
        const bool rebooted = !row.partitions.empty() && row.partitions != kType6;   // a new partition
        EXPECT_EQ(image.RebootRequests(), rebooted ? 1 : 0);
        if (rebooted) {
            EXPECT_GE(storage.rebootAt - boxes.lastAt, kRebootDelay);
        }
    }
}

} // namespace
} // namespace quillon::test
