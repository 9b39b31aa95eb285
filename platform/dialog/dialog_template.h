// What a dialog resource says, as plain data: the dialog's caption, size, font
// and style, and its controls in tab order, measured in dialog units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Commands the dialog sends by itself: Enter and the caption OK button send
// kIdOk, Escape and (by default) the close box send kIdCancel.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdStatic = -1;   // labels nobody addresses; may repeat

// One scale in both directions keeps the pixel layout a plain multiple of the template.
inline constexpr int kPixelsPerDluX = 2;
inline constexpr int kPixelsPerDluY = 2;

enum class ControlKind {
    PushButton,
    DefaultPushButton,   // Enter sends its command when no other push button has the focus
    AutoCheckBox,
    DropDownList,        // combo whose text is always one of its entries
    DropDownCombo,       // combo with an editable text
    Edit,                // single-line unless ControlFlag::MultiLine
    ListBox,             // unsorted unless ControlFlag::Sorted; never shrinks to whole lines
    StaticText,
    StaticBitmap,        // shows the pixmap given by Dialog::SetItemBitmap
};

struct ControlFlag {
    static constexpr uint32_t Hidden = 1u << 0;
    static constexpr uint32_t Disabled = 1u << 1;
    static constexpr uint32_t Sorted = 1u << 2;        // combos and list boxes: entries in ascending text order
    static constexpr uint32_t ReadOnly = 1u << 3;
    static constexpr uint32_t MultiLine = 1u << 4;
    static constexpr uint32_t Border = 1u << 5;
    static constexpr uint32_t VScroll = 1u << 6;
    static constexpr uint32_t HScroll = 1u << 7;
    static constexpr uint32_t AutoHScroll = 1u << 8;   // multi-line edits: long lines scroll instead of wrapping
    static constexpr uint32_t Notify = 1u << 9;        // static controls: a click sends their command
};

struct DialogStyle {
    static constexpr uint32_t Caption = 1u << 0;
    static constexpr uint32_t SysMenu = 1u << 1;       // the close box
    static constexpr uint32_t CaptionOk = 1u << 2;     // an OK button in the caption bar
};

struct ControlTemplate {
    int id = kIdStatic;
    ControlKind kind = ControlKind::StaticText;
    std::wstring text;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;   // for combos: the height of the dropped-down list
    uint32_t flags = 0;
};

struct DialogTemplate {
    int id = 0;
    std::wstring caption;
    int width = 0;
    int height = 0;
    std::wstring fontName = L"MS Sans Serif";
    int fontPointSize = 8;
    uint32_t style = DialogStyle::Caption | DialogStyle::SysMenu;
    std::vector<ControlTemplate> controls;   // template order is tab order
};

} // namespace platform
