#pragma once
// The main window FormKestrel, free of any toolkit: every caption, text, colour, size and place,
// the menus with their items and separators, the order of the controls and the options the
// window keeps. Both front ends build their windows from this one description, and the window
// logic sets every caption from it once; neither holds a copy.
//
// To add a control, a menu item or an option: add its name to the enum, its entry to the table
// (the entry's place is its place on screen or in the menu), and its handler in TFormKestrel.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "list/Columns.h"
#include "list/TMyRec.h"

enum class MainControl {
    PTop,
    Label1,
    LabAppCount,
    Label3,
    LabNetCount,
    Label5,
    EFilter,
    BTNOptions,
    BTNHelp,
    BTNUpdate,
    BTNHomePage,
    VTS,
    PBottom,
    CBShowLocal,
    CBAutoRefresh,
    CBAlwaysTop,
    BTNRefresh,
    BTNEndPro,
    CBShowInfo,
    Count
};

// Items of the context menu PmTree.
enum class ContextItem {
    NProcInfo,
    NEndProc,
    NCloseConnection,
    NCopy,
    NExport,
    NLocate,
    NProperty,
    NViewLog,
    Count
};

// Items of the options menu PmOptions (the button BTNOptions opens it).
enum class OptionItem { ShowIPv6, ResolveNames, ShowTraffic, Count };

// Command items of the options menu: they open something and keep no state.
enum class OptionCommand { NConnectionLog, Count };

enum class ControlKind { Panel, Label, Button, CheckBox, List, TextField };

struct LookRgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    friend bool operator==(const LookRgb&, const LookRgb&) = default;
};

// One control of the window. Sizes are pixels at 96 dots per inch; a width of 0 means the
// control is as wide as its text (a check box: with its box).
struct MainControlLook {
    MainControl control;
    ControlKind kind;
    const char*
        caption; // nullptr: the control shows no caption of its own (a text field: its placeholder)
    const char* objectName; // the toolkit's name of the control
    const char* picture;    // a bitmap button's 16 x 16 picture (src/ui/pictures), else nullptr
    int width;
    int gapBefore;          // space left of the control in its row
    bool bold = false;      // a label's font
    bool hasColour = false; // false: the system's window text colour
    LookRgb colour{0, 0, 0};
    bool checked = false; // a check box's design state
    int tag = 0;          // a check box's tag: which option it stores
};

// One line of a popup menu; a caption of nullptr is a separator.
template <typename Item> struct MenuLine {
    Item item;
    const char* caption;
};

// An item of the options menu: a check item stored in Kestrel.ini's section Options under
// `key`, `defaultChecked` while the file holds no integer for it.
struct OptionLook {
    OptionItem item;
    const char* caption;
    const char* key;
    bool defaultChecked;
};

// A control's place in the window's client area, in the toolkit's pixels.
struct LookRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const LookRect&, const LookRect&) = default;
};

namespace MainWindowLook {

// The caption before FormCreate stamps the version over "$V$".
inline constexpr const char* Caption = "Kestrel V$V$(网络连接查看器)";
inline constexpr int ClientWidth = 746;
inline constexpr int ClientHeight = 433;
inline constexpr int MinimumWidth = 672;
inline constexpr int MinimumHeight = 200;
// The window starts in the topmost band, as CBAlwaysTop's design state says.
inline constexpr bool StartsOnTop = true;
inline constexpr const char* FontFamily = "Arial";
inline constexpr int FontPixelHeight = 11; // Arial 8 points
inline constexpr int ButtonPictureSize = 16;

inline constexpr int TopPanelHeight = 34;
inline constexpr bool TopPanelRaised = true; // a one-pixel raised bevel
inline constexpr int BottomPanelHeight = 28;
inline constexpr int SentenceLeft = 6;
inline constexpr int TopButtonHeight = 32; // centred in the top panel
inline constexpr int TopRightMargin = 1;
inline constexpr int BottomLeft = 8;
inline constexpr int BoxTop = 6; // from the bottom panel's top
inline constexpr int BoxHeight = 17;
inline constexpr int BottomButtonTop = 1;
inline constexpr int BottomButtonHeight = 26;
// The filter field between the sentence and the top panel's buttons: as wide as FilterWidth
// where there is room, narrower down to FilterMinimumWidth while the sentence needs it.
inline constexpr int FilterWidth = 150;
inline constexpr int FilterMinimumWidth = 80;
inline constexpr int FilterHeight = 22;
inline constexpr int FilterGap = 4; // on both sides of the field

inline constexpr LookRgb PanelColour{0xEC, 0xF5, 0xF8};
// The bitmap buttons: face, hot-track while the mouse is over it, highlight while pressed.
inline constexpr LookRgb ButtonFace{0xF4, 0xF4, 0xF0};
inline constexpr LookRgb ButtonHotTrack{0xFF, 0xC7, 0x3C};
inline constexpr LookRgb ButtonPressed{0x6A, 0x8D, 0xF4};
inline constexpr LookRgb ButtonBorder{0x9A, 0xA6, 0xB2};
inline constexpr LookRgb ButtonText{0x00, 0x00, 0x00};
inline constexpr LookRgb ButtonPressedText{0xFF, 0xFF, 0xFF};
inline constexpr LookRgb ButtonDisabledText{0x8C, 0x8C, 0x8C};
inline constexpr LookRgb CheckBoxText{0x00, 0x00, 0x00};

// The rows the last refresh added ("add") or changed ("md"), until the next refresh takes the
// mark away; the selection is drawn over them as over any row.
inline constexpr LookRgb AddedRowColour{0xCC, 0xFF, 0xCC};   // light green
inline constexpr LookRgb ChangedRowColour{0xFF, 0xFF, 0xC0}; // light yellow

inline constexpr int AutoRefreshInterval = 10000; // Timer1, milliseconds
inline constexpr const char* SettingsSection = "Set";
inline constexpr const char* OptionsSection = "Options";

// The top panel from the left: the counters sentence (Label1 .. Label5, read on without
// gaps), then the controls that sit at the panel's right edge, side by side.
const std::vector<MainControlLook>& TopSentence();
const std::vector<MainControlLook>& TopRight();
// How many rows a filter shows: "显示 N 项" (the log window's bottom line says it too).
std::string ShownCountText(std::size_t shown);
// Label5 while the filter shows `shown` rows: "个连接，显示 N 项。".
std::string FilteredSentenceEnd(std::size_t shown);
// The bottom panel from the left; each control keeps its place when the window is resized.
const std::vector<MainControlLook>& BottomRow();
// Every control by its name (the panels and the list included).
const MainControlLook& Control(MainControl control);
// The keyboard's order, from the list on.
const std::vector<MainControl>& TabOrder();

const std::vector<MenuLine<ContextItem>>& ContextMenu();
const char* ContextCaption(ContextItem item);
const std::vector<OptionLook>& OptionsMenu();
const OptionLook& Option(OptionItem item);
// The list columns after the described ones that an option shows while it is on and hides
// while it is off: "目标主机" for ResolveNames, the four traffic columns for ShowTraffic; none
// for the other options.
std::vector<int> OptionColumns(OptionItem item);

// The lines below the options menu's check items (a separator first).
const std::vector<MenuLine<OptionCommand>>& OptionsCommands();

// A cell's background: a marked row's colour across the whole row, else the column's own
// background; nullopt for the list's own (white).
std::optional<LookRgb> CellBackground(const TMyRec& row, const ListColumn& column);

// Where each control sits in a client area of `width` x `height`. `scale` turns design pixels
// into the toolkit's; `textSize` gives the natural width and height of a label's or check box's
// text (check box: with its box) in the toolkit's pixels. Indexed by MainControl.
std::vector<LookRect> Layout(int width, int height, const std::function<int(int)>& scale,
                             const std::function<LookRect(MainControl)>& textSize);

} // namespace MainWindowLook
