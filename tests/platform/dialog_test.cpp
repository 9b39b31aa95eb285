// Template dialogs as a user meets them: where controls are, what clicks, keys
// and the close box do, and painting while the GUI thread is busy. Data
// exchange shows in the loader's typed image path (EndToEnd).
#include "platform/dialog/dialog.h"
#include "tests/platform/gui_wait.h"
#include "tests/platform/loader_template.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include <gtest/gtest.h>

#include <vector>

namespace platform {
namespace {

using namespace test;   // control ids, RunModal, Shown

QAbstractButton* CaptionOk(Dialog& dialog)
{
    return dialog.Widget()->findChild<QToolButton*>(QStringLiteral("captionOk"));
}

TEST(DialogLayoutTest, ControlsSitAtTwiceTheirDialogUnits)
{
    const DialogTemplate loader = LoaderTemplate();
    Dialog dialog(loader);
    ASSERT_TRUE(Shown(dialog));
    EXPECT_EQ(dialog.Item(kLog)->parentWidget()->size(), QSize(440, 340));
    for (const ControlTemplate& control : loader.controls) {
        const QRect rect = dialog.Item(control.id)->geometry();
        EXPECT_EQ(rect.topLeft(), QPoint(2 * control.x, 2 * control.y)) << control.id;
        EXPECT_EQ(rect.width(), 2 * control.width) << control.id;
        if (control.id != kPort && control.id != kBaud) {
            EXPECT_EQ(rect.height(), 2 * control.height) << control.id;
        }
    }

    // A combo's template height is its dropped list, not the closed control.
    auto* combo = qobject_cast<QComboBox*>(dialog.Item(kBaud));
    const int listHeight = 2 * 80;
    EXPECT_LT(combo->height(), listHeight / 2);
    for (int i = 0; i < 40; ++i)
        dialog.ComboAddString(kBaud, std::to_wstring(i));
    combo->showPopup();
    QWidget* popup = combo->view()->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
    EXPECT_LE(popup->height(), listHeight);
    EXPECT_GT(popup->height(), listHeight / 2);
    combo->hidePopup();

    EXPECT_EQ(dialog.Widget()->font().pointSize(), 8);
}

TEST(DialogCommandTest, ButtonsRunTheirHandlersOnlyWhenEnabled)
{
    Dialog dialog(LoaderTemplate());
    int about = 0;
    dialog.BindClicked(kAbout, [&] { ++about; });
    ASSERT_TRUE(Shown(dialog));

    QTest::mouseClick(dialog.Item(kAbout), Qt::LeftButton);
    dialog.ClickItem(kAbout);
    dialog.SendCommand(kAbout);   // as a default command would
    EXPECT_EQ(about, 0);

    dialog.EnableItem(kAbout, true);
    QTest::mouseClick(dialog.Item(kAbout), Qt::LeftButton);
    EXPECT_EQ(about, 1);
    dialog.ClickItem(kAbout);
    EXPECT_EQ(about, 2);
}

TEST(DialogCommandTest, EnterGoesToTheFocusedButtonElseTheDefaultButton)
{
    Dialog dialog(LoaderTemplate());
    std::vector<int> commands;
    dialog.BindClicked(kLoad, [&] { commands.push_back(kLoad); });
    dialog.BindClicked(kAbout, [&] { commands.push_back(kAbout); });
    dialog.BindOk([&] { commands.push_back(kIdOk); });
    dialog.EnableItem(kAbout, true);
    ASSERT_TRUE(Shown(dialog));

    dialog.SetFocusTo(kName);
    QTest::keyClick(dialog.Item(kName), Qt::Key_Return);
    dialog.SetFocusTo(kAbout);
    QTest::keyClick(dialog.Item(kAbout), Qt::Key_Enter, Qt::KeypadModifier);
    dialog.EnableItem(kLoad, false);
    dialog.SetFocusTo(kName);
    QTest::keyClick(dialog.Item(kName), Qt::Key_Return);   // a disabled default button takes it and does nothing
    QTest::mouseClick(CaptionOk(dialog), Qt::LeftButton);
    EXPECT_EQ(commands, (std::vector<int> {kLoad, kAbout, kIdOk}));
}

TEST(DialogCommandTest, CloseBoxAsksTheCloseHandler)
{
    Dialog dialog(LoaderTemplate());
    int cancels = 0;
    dialog.BindCancel([&] { ++cancels; });
    int asked = 0;
    bool allow = false;
    const int code = RunModal(dialog, [&] {
        // Without a close handler the close box is Cancel.
        dialog.Widget()->windowHandle()->close();
        EXPECT_EQ(cancels, 1);
        dialog.BindCloseRequest([&] {
            ++asked;
            return allow;
        });
        dialog.Widget()->windowHandle()->close();
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(dialog.Widget()->isVisible());
        allow = true;
        dialog.Widget()->windowHandle()->close();
    });
    EXPECT_EQ(code, kIdCancel);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(cancels, 1);
}

// What the window system has been given to show, as opposed to a fresh rendering.
QImage OnScreen(QWidget* widget)
{
    QWidget* window = widget->window();
    const QRect area(widget->mapTo(window, QPoint(0, 0)), widget->size());
    return window->screen()->grabWindow(window->winId()).toImage().copy(area).convertToFormat(QImage::Format_RGB32);
}

QImage Rendered(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(DialogRepaintTest, NewListLinesShowWhileAHandlerKeepsTheGuiThread)
{
    Dialog dialog(LoaderTemplate());
    ASSERT_TRUE(Shown(dialog));
    QWidget* log = dialog.Item(kLog);
    bool ran = false;
    dialog.BindClicked(kLoad, [&] {
        // No event is handled until this returns, so only a repaint can show the lines.
        ran = true;
        const QImage before = OnScreen(log);
        dialog.ListAddString(kLog, L"Erasing flash...");
        EXPECT_EQ(OnScreen(log), before);
        dialog.RepaintItem(kLog);
        const QImage oneLine = OnScreen(log);
        EXPECT_NE(oneLine, before);
        EXPECT_EQ(oneLine, Rendered(log));

        for (int i = 0; i < 50; ++i)
            dialog.ListSetCurSel(kLog, dialog.ListAddString(kLog, L"Record " + std::to_wstring(i)));
        dialog.Repaint();
        EXPECT_NE(OnScreen(log), oneLine);
        EXPECT_EQ(OnScreen(log), Rendered(log));
    });
    QTest::mouseClick(dialog.Item(kLoad), Qt::LeftButton);
    EXPECT_TRUE(ran);
}

} // namespace
} // namespace platform
