// The list box, combo, check box and static operations a dialog program uses,
// and which changes tell the program: the user's, not the program's own.
#include "platform/dialog/dialog.h"
#include "tests/platform/gui_wait.h"
#include "tests/platform/loader_template.h"

#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <QPixmap>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace platform {
namespace {

using namespace test;   // control ids, Shown

constexpr int kNearLeftEdge = 4;   // px: a check box's centre can lie past its text

std::vector<std::wstring> ComboEntries(const Dialog& dialog, int id)
{
    std::vector<std::wstring> entries;
    for (int i = 0; i < dialog.ComboCount(id); ++i)
        entries.push_back(dialog.ComboText(id, i));
    return entries;
}

TEST(DialogListBoxTest, AddDeleteAndReset)
{
    Dialog dialog(LoaderTemplate());
    EXPECT_EQ(dialog.ListAddString(kLog, L"first"), 0);
    EXPECT_EQ(dialog.ListAddString(kLog, L"second"), 1);
    EXPECT_EQ(dialog.ListAddString(kLog, L"a third"), 2);   // unsorted: at the end
    EXPECT_EQ(dialog.ListCount(kLog), 3);
    EXPECT_EQ(dialog.ListText(kLog, 2), L"a third");
    EXPECT_EQ(dialog.ListText(kLog, 3), L"");
    EXPECT_EQ(dialog.ListCurSel(kLog), -1);

    EXPECT_TRUE(dialog.ListDeleteString(kLog, 0));
    EXPECT_FALSE(dialog.ListDeleteString(kLog, 2));
    EXPECT_EQ(dialog.ListText(kLog, 0), L"second");
    EXPECT_EQ(dialog.ListCount(kLog), 2);
    dialog.ListReset(kLog);
    EXPECT_EQ(dialog.ListCount(kLog), 0);

    EXPECT_EQ(dialog.ListAddString(kName, L"not a list"), -1);
}

TEST(DialogListBoxTest, SelectingScrollsIntoViewAndOnlyTheUserNotifies)
{
    Dialog dialog(LoaderTemplate());
    int changes = 0;
    dialog.BindSelectionChanged(kLog, [&] { ++changes; });
    for (int i = 0; i < 200; ++i)
        dialog.ListAddString(kLog, L"line " + std::to_wstring(i));
    ASSERT_TRUE(Shown(dialog));
    auto* list = qobject_cast<QListWidget*>(dialog.Item(kLog));

    EXPECT_TRUE(dialog.ListSetCurSel(kLog, 199));
    EXPECT_EQ(dialog.ListCurSel(kLog), 199);
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualItemRect(list->item(199))));
    EXPECT_FALSE(dialog.ListSetCurSel(kLog, 200));
    dialog.ListDeleteString(kLog, 0);
    EXPECT_EQ(changes, 0);

    const QRect row = list->visualItemRect(list->item(190));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(dialog.ListCurSel(kLog), 190);
    EXPECT_EQ(changes, 1);

    EXPECT_TRUE(dialog.ListSetCurSel(kLog, -1));
    EXPECT_EQ(dialog.ListCurSel(kLog), -1);
    EXPECT_TRUE(list->selectedItems().isEmpty());
}

TEST(DialogComboTest, SortedCombosInsertInOrderOthersAppend)
{
    Dialog dialog(LoaderTemplate());
    // Returned indexes say where each entry went; case does not count.
    EXPECT_EQ(dialog.ComboAddString(kBaud, L"gps2:"), 0);
    EXPECT_EQ(dialog.ComboAddString(kBaud, L"COM1:"), 0);
    EXPECT_EQ(dialog.ComboAddString(kBaud, L"Gps1:"), 1);
    EXPECT_EQ(dialog.ComboAddString(kBaud, L"com2:"), 1);
    EXPECT_EQ(dialog.ComboAddString(kBaud, L"Com2:"), 2);   // after its equal
    EXPECT_EQ(ComboEntries(dialog, kBaud), (std::vector<std::wstring> {L"COM1:", L"com2:", L"Com2:", L"Gps1:", L"gps2:"}));

    EXPECT_EQ(dialog.ComboAddString(kPort, L"B"), 0);
    EXPECT_EQ(dialog.ComboAddString(kPort, L"A"), 1);
    EXPECT_EQ(ComboEntries(dialog, kPort), (std::vector<std::wstring> {L"B", L"A"}));
}

TEST(DialogComboTest, SelectionAndEditText)
{
    Dialog dialog(LoaderTemplate());
    dialog.ComboAddString(kPort, L"COM1:");
    dialog.ComboAddString(kPort, L"COM2:");
    EXPECT_EQ(dialog.ComboCurSel(kPort), -1);   // adding selects nothing
    EXPECT_EQ(dialog.ItemText(kPort), L"");
    EXPECT_TRUE(dialog.ComboSetCurSel(kPort, 1));
    EXPECT_FALSE(dialog.ComboSetCurSel(kPort, 2));
    EXPECT_EQ(dialog.ComboCurSel(kPort), 1);
    EXPECT_EQ(dialog.ItemText(kPort), L"COM2:");
    dialog.SetItemText(kPort, L"COM9:");   // a drop-down list shows only its entries
    EXPECT_EQ(dialog.ItemText(kPort), L"COM2:");

    dialog.SetItemText(kBaud, L"115200");
    dialog.ComboAddString(kBaud, L"9600");
    dialog.ComboAddString(kBaud, L"38400");
    EXPECT_EQ(dialog.ItemText(kBaud), L"115200");
    EXPECT_EQ(dialog.ComboCurSel(kBaud), -1);
    EXPECT_TRUE(dialog.ComboSetCurSel(kBaud, 1));
    EXPECT_EQ(dialog.ItemText(kBaud), L"9600");
    dialog.ComboAddString(kBaud, L"115200");   // lands before the selection, which follows it
    EXPECT_EQ(dialog.ComboCurSel(kBaud), 2);
    EXPECT_EQ(dialog.ItemText(kBaud), L"9600");

    dialog.ComboReset(kBaud);
    EXPECT_EQ(dialog.ComboCount(kBaud), 0);
    EXPECT_EQ(dialog.ItemText(kBaud), L"");
}

TEST(DialogComboTest, OnlyTheUsersChoiceNotifies)
{
    Dialog dialog(LoaderTemplate());
    int changes = 0;
    dialog.BindSelectionChanged(kPort, [&] { ++changes; });
    for (const wchar_t* port : {L"COM1:", L"COM2:", L"COM3:"})
        dialog.ComboAddString(kPort, port);
    ASSERT_TRUE(Shown(dialog));
    dialog.ComboSetCurSel(kPort, 0);
    EXPECT_EQ(changes, 0);
    QTest::keyClick(dialog.Item(kPort), Qt::Key_Down);
    EXPECT_EQ(dialog.ComboCurSel(kPort), 1);
    EXPECT_EQ(changes, 1);
}

TEST(DialogStaticTest, CheckBoxesAndNotifyingStaticsReportClicks)
{
    Dialog dialog(LoaderTemplate());
    std::vector<int> clicks;
    for (int id : {kVerify, kLogo, kSecret})
        dialog.BindClicked(id, [&clicks, id] { clicks.push_back(id); });
    QPixmap logo(80, 60);
    logo.fill(Qt::darkBlue);
    dialog.SetItemBitmap(kLogo, logo);
    dialog.ShowItem(kSecret, true);
    ASSERT_TRUE(Shown(dialog));

    QWidget* verify = dialog.Item(kVerify);
    QTest::mouseClick(verify, Qt::LeftButton, {}, QPoint(kNearLeftEdge, verify->height() / 2));
    EXPECT_TRUE(dialog.IsChecked(kVerify));
    dialog.SetCheck(kVerify, false);   // the program's own change: no click
    EXPECT_FALSE(dialog.IsChecked(kVerify));

    QTest::mouseClick(dialog.Item(kLogo), Qt::LeftButton);
    QTest::mouseClick(dialog.Item(kSecret), Qt::LeftButton);   // not a notifying static
    dialog.EnableItem(kLogo, false);
    QTest::mouseClick(dialog.Item(kLogo), Qt::LeftButton);
    dialog.ClickItem(kLogo);
    EXPECT_EQ(clicks, (std::vector<int> {kVerify, kLogo}));
}

} // namespace
} // namespace platform
