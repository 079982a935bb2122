// The main window's fixed layout, which the Win32 and Qt views both build
// from: every control with its identifier, kind, text and place. Places are
// pixels of the client area at 96 dpi, the unit the Win32 window uses; the
// sizes fit an 8-point dialog font (11 pixels).
#pragma once

#include <array>
#include <string_view>

namespace vi2zezir::shell {

inline constexpr int kClientWidth = 541;
inline constexpr int kClientHeight = 165;
inline constexpr int kDialogFontPixels = 11;

// The Win32 control identifiers (GetDlgItem), named as the form names its
// controls.
enum class ControlId : int {
    txtExcelFile = 1001,
    CmdExport2Excel = 1002,
    cmdOtherFile = 1003,
    Picture1 = 1004,
    Label1 = 1005,
    Label2 = 1006,
    Label3 = 1007,
    Label4 = 1008,
    Line1 = 1009,
    sb = 1010,
};

// Text boxes, buttons and the picture take the focus by Tab; the rest never
// take the focus.
enum class ControlKind { TextBox, Button, Picture, StatusBar, Line, Label };

constexpr bool IsTabStop(ControlKind kind) {
    return kind == ControlKind::TextBox || kind == ControlKind::Button || kind == ControlKind::Picture;
}

// A colour the views give a control beyond the platform's defaults: the
// white band behind the instructions, and the version drawn in the
// application-workspace colour.
enum class ControlColour { Default, WhiteBackground, WorkspaceText };

struct ControlLayout {
    ControlId id;
    std::string_view name; // the form's name for it
    ControlKind kind;
    std::u16string_view text;
    int x, y, width, height;
    ControlColour colour = ControlColour::Default;
};

inline constexpr char16_t kInstructions[] =
    u"This utility will transfer fields from the open Tendrix document to an Excel file. "
    u"Please select the Tendrix  Excel Template that you would like to use. To transfer the "
    u"fields to Excel, press the 'Send to Excel' Button. This utility will close when finished.";

// Listed top first: the order is the stacking order and, among the controls
// that take the focus, the tab order. Picture1 covers the white band's left
// end; the instructions and the rule lie on the band; the status bar lies
// over the foot of the version.
inline constexpr std::array<ControlLayout, 10> kFormLayout{{
    {ControlId::txtExcelFile, "txtExcelFile", ControlKind::TextBox, u"", 168, 96, 337, 19},
    {ControlId::CmdExport2Excel, "CmdExport2Excel", ControlKind::Button, u"Send To Excel", 384, 120, 137, 25},
    {ControlId::cmdOtherFile, "cmdOtherFile", ControlKind::Button, u"..", 504, 96, 17, 19},
    {ControlId::Picture1, "Picture1", ControlKind::Picture, u"", 0, 0, 153, 145},
    {ControlId::sb, "sb", ControlKind::StatusBar, u"", 0, 148, kClientWidth, 17},
    {ControlId::Line1, "Line1", ControlKind::Line, u"", 152, 72, 392, 1},
    {ControlId::Label3, "Label3", ControlKind::Label, kInstructions, 160, 8, 369, 57, ControlColour::WhiteBackground},
    {ControlId::Label2, "Label2", ControlKind::Label, u"", 144, 0, 401, 73, ControlColour::WhiteBackground},
    {ControlId::Label1, "Label1", ControlKind::Label, u"Excel File:", 168, 80, 65, 17},
    {ControlId::Label4, "Label4", ControlKind::Label, u"Version 1.95", 168, 136, 89, 17, ControlColour::WorkspaceText},
}};

} // namespace vi2zezir::shell
