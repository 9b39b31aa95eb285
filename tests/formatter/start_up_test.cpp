// The program from its start: which stores get the wizard, a message or
// nothing, and a whole conversion through the wizard on a real store image.
#include "formatter/store_format_app.h"
#include "platform/dialog/dialog_template.h"
#include "tests/formatter/box_recorder.h"
#include "tests/formatter/failing_storage.h"
#include "tests/formatter/store_image.h"
#include "tests/platform/gui_wait.h"

#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>

namespace quillon::test {
namespace {

constexpr int kPollMs = 5;   // how often the test looks for the wizard
constexpr char16_t kFirstPartition[] = u"Part00";

const std::wstring kWizardText =
    L"To increase performance and security, this version requires to format the internal \\MyDevice storage. "
    L"Before continuing, be sure to backup your data on SD card so that all file on \\MyDevice can be deleted. ";
const ExpectedBox kNoRebootBox {L"Wizard finished successfully. No reboot required.", L"Quillon"};

QPushButton* Button(QDialog* wizard, const QString& text)
{
    for (auto* button : wizard->findChildren<QPushButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

// Runs the start-up check. `inWizard` runs once the wizard is on screen and
// should close it; a wizard nobody closes is ended at the deadline. True when
// the wizard came up.
bool RunStartUp(platform::Storage& storage, BoxRecorder& boxes, const std::function<void(QDialog*)>& inWizard = {})
{
    StoreFormatApp app(storage, boxes.Binder());
    bool shown = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (auto* wizard = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            wizard->done(platform::test::kTimedOut);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* wizard = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!wizard || shown)
            return;
        shown = true;
        poll.stop();
        guard.start(platform::test::kGuiDeadline);
        if (inWizard && QTest::qWaitForWindowExposed(wizard))
            inWizard(wizard);
        else
            wizard->done(platform::kIdCancel);
    });
    poll.start(kPollMs);
    EXPECT_FALSE(app.InitInstance());
    return shown;
}

class StartUpTest : public ::testing::Test {
protected:
    StoreImage m_image;
    BoxRecorder m_boxes;
};

TEST_F(StartUpTest, Type6StoreIsConvertedThroughTheWizard)
{
    m_image.Partition(0x06);
    QWidget* wizardWindow = nullptr;
    const bool shown = RunStartUp(platform::SystemStorage(), m_boxes, [&](QDialog* wizard) {
        wizardWindow = wizard;
        EXPECT_EQ(wizard->windowTitle(), QStringLiteral("Quillon V1.1"));
        auto* status = wizard->findChild<QLabel*>();
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(status->text().toStdWString(), kWizardText);
        const QList<QSize> iconSizes = wizard->windowIcon().availableSizes();
        EXPECT_TRUE(iconSizes.contains(QSize(32, 32)) && iconSizes.contains(QSize(16, 16)));
        EXPECT_TRUE(m_boxes.Boxes().empty());

        QPushButton* continueButton = Button(wizard, QStringLiteral("Continue"));
        ASSERT_NE(continueButton, nullptr);
        QTest::mouseClick(continueButton, Qt::LeftButton);
        ExpectBoxes(m_boxes, {{L"Wizard finished successfully. Rebooting.", L"Quillon", wizard}});
        EXPECT_EQ(m_image.RebootRequests(), 1);
        EXPECT_FALSE(continueButton->isEnabled());
        EXPECT_TRUE(wizard->isVisible());   // until the machine goes down or the user closes it
        QTest::mouseClick(wizard->findChild<QToolButton*>(), Qt::LeftButton);
    });
    ASSERT_TRUE(shown);
    ASSERT_NE(wizardWindow, nullptr);

    EXPECT_FALSE(RunStartUp(platform::SystemStorage(), m_boxes));
    ExpectBoxes(m_boxes, {{L"Wizard finished successfully. Rebooting.", L"Quillon", wizardWindow}, kNoRebootBox});
    EXPECT_EQ(m_image.RebootRequests(), 1);
}

TEST_F(StartUpTest, CancelLeavesTheStoreUntouched)
{
    m_image.Partition(0x06);
    const std::vector<char> before = m_image.Bytes();
    EXPECT_TRUE(RunStartUp(platform::SystemStorage(), m_boxes, [](QDialog* wizard) {
        QTest::mouseClick(Button(wizard, QStringLiteral("Cancel")), Qt::LeftButton);
    }));
    EXPECT_TRUE(m_boxes.Boxes().empty());
    EXPECT_TRUE(m_image.Bytes() == before);
    EXPECT_EQ(m_image.RebootRequests(), 0);
}

// A store with no partition (a blank one, or an empty table) is met like a
// partition that cannot be opened: reported, then made in the wizard's layout,
// so the next start finds the store converted. A store that holds a filesystem
// or a table the storage layer does not handle is left as it is.
TEST_F(StartUpTest, OnlyAnEmptyStoreGetsAPartitionUnasked)
{
    const ExpectedBox notOpened {L"Can't open USER partition.", L"Partition information"};
    const struct {
        const char* legend;
        std::function<void(StoreImage&)> prepare;
        bool created;
    } rows[] = {
        {"blank store", [](StoreImage&) {}, true},
        {"empty table", [](StoreImage& image) { image.Label("dos"); }, true},
        {"FAT over the whole store", [](StoreImage& image) { image.Filesystem("mkfs.vfat"); }, false},
        {"ext2 over the whole store", [](StoreImage& image) { image.Filesystem("mkfs.ext2 -q -F"); }, false},
        {"empty GPT", [](StoreImage& image) { image.Label("gpt"); }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        StoreImage image;
        BoxRecorder boxes;
        row.prepare(image);
        const std::vector<char> before = image.Bytes();
        FailingStorage storage;
        EXPECT_FALSE(RunStartUp(storage, boxes));
        ExpectBoxes(boxes, {notOpened});
        for (const StorageCall& call : storage.Calls())
            if (call.op == Op::OpenPartition || call.op == Op::CreatePartition) {
                EXPECT_EQ(call.name, kFirstPartition);
            }
        EXPECT_EQ(storage.OpenHandles(), 0u);
        EXPECT_EQ(image.RebootRequests(), 0);
        if (!row.created) {
            EXPECT_TRUE(image.Bytes() == before);
            continue;
        }
        EXPECT_EQ(image.Partitions(), std::vector<std::string> {kWholeStoreType4});
        EXPECT_FALSE(RunStartUp(platform::SystemStorage(), boxes));
        ExpectBoxes(boxes, {notOpened, kNoRebootBox});
    }
}

// Stores that get no wizard: a message or none, and the store stays as it was.
TEST_F(StartUpTest, OtherStoresEndTheProgramWithoutTheWizard)
{
    constexpr Op kNone = Op::KernelIoControl;   // never called at start-up
    const struct {
        const char* legend;
        uint8_t type;
        Op failing;
        std::vector<ExpectedBox> boxes;
        bool createTried;
    } rows[] = {
        {"type 4", 0x04, kNone, {kNoRebootBox}, false},
        {"type 0b", 0x0b, kNone, {}, false},
        {"type 83", 0x83, kNone, {}, false},
        {"store not opened", 0x06, Op::OpenStore, {{L"Can't open USER store.", L"Store information"}}, false},
        {"partition not opened", 0x06, Op::OpenPartition, {{L"Can't open USER partition.", L"Partition information"}},
         true},
        {"no partition information", 0x06, Op::GetPartitionInfo, {}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        StoreImage image;
        BoxRecorder boxes;
        image.Partition(row.type);
        const std::vector<char> before = image.Bytes();
        FailingStorage storage;
        storage.Fail(row.failing);
        EXPECT_FALSE(RunStartUp(storage, boxes));
        ExpectBoxes(boxes, row.boxes);

        const std::vector<Op> ops = storage.Ops();
        const auto create = std::find(ops.begin(), ops.end(), Op::CreatePartition);
        EXPECT_EQ(create != ops.end(), row.createTried);
        if (create != ops.end()) {
            // Tried with the partition's own name; it is still there, so the store stays as it was.
            const StorageCall& call = storage.Calls()[size_t(create - ops.begin())];
            EXPECT_EQ(call.name, kFirstPartition);
            EXPECT_EQ(call.type, 0);
            EXPECT_EQ(*std::prev(create), Op::GetStoreInfo);
        }
        EXPECT_TRUE(image.Bytes() == before);
        EXPECT_EQ(storage.OpenHandles(), 0u);
        EXPECT_EQ(storage.BadCloses(), 0);
    }
}

} // namespace
} // namespace quillon::test
