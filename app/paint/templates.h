// The window templates as the toolkit takes them: the main window (102) with its controls and
// menu (129), and the About box (100). Positions are kept in dialog units of "MS Shell Dlg"
// 8 pt and mapped to pixels with fixed factors, 1 horizontal unit = 1.5 px and 1 vertical unit
// = 1.625 px, each edge rounded to the nearest pixel (halves up), never with font metrics.
//
// How the window uses it: the main window's client area is a child widget of
// kFlasherTemplate.ClientPixels() (354 x 153) placed below the menu bar; each control of
// kFlasherControls becomes a child of it at Pixels(), created in this (tab) order, with the text,
// id and style bits given; the menu bar is built from kFlasherMenu in order, one popup per new
// popup title. The About box likewise from kAboutTemplate and kAboutControls.
#pragma once

#include <QRect>
#include <QSize>
#include <cstdint>
#include <string_view>

namespace quelt {

// Resource and command ids.
constexpr int IDR_MAINFRAME = 7;  // the application icon
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_FLASHER = 102;
constexpr int IDR_MENU = 129;
constexpr int IDB_BACKGROUND = 1004;
constexpr int IDC_WRITE = 1002;
constexpr int IDC_VERIFY = 1003;
constexpr int IDC_PROGRESS = 1005;
constexpr int IDC_STATUS = 1006;
constexpr int ID_FILE_LOADBIOS = 32771;
constexpr int ID_FILE_EXIT = 32776;
constexpr int ID_HELP_ABOUT = 32777;
constexpr int ID_PARAMETERS_SAFEMODE = 32778;
constexpr int IDOK = 1;
constexpr int IDC_STATIC = -1;

// Style bits.
constexpr std::uint32_t WS_POPUP = 0x80000000;
constexpr std::uint32_t WS_VISIBLE = 0x10000000;
constexpr std::uint32_t WS_CAPTION = 0x00C00000;
constexpr std::uint32_t WS_SYSMENU = 0x00080000;
constexpr std::uint32_t WS_GROUP = 0x00020000;
constexpr std::uint32_t WS_MINIMIZEBOX = 0x00020000;  // on a frame; WS_GROUP on a control
constexpr std::uint32_t WS_TABSTOP = 0x00010000;
constexpr std::uint32_t DS_3DLOOK = 0x0004;
constexpr std::uint32_t DS_FIXEDSYS = 0x0008;
constexpr std::uint32_t DS_SETFONT = 0x0040;
constexpr std::uint32_t DS_MODALFRAME = 0x0080;
constexpr std::uint32_t DS_CENTER = 0x0800;
constexpr std::uint32_t BS_PUSHBUTTON = 0x0000;
constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x0001;
constexpr std::uint32_t BS_GROUPBOX = 0x0007;
constexpr std::uint32_t SS_LEFT = 0x0000;
constexpr std::uint32_t SS_ICON = 0x0003;
constexpr std::uint32_t SS_LEFTNOWORDWRAP = 0x000C;
constexpr std::uint32_t SS_ETCHEDHORZ = 0x0010;
constexpr std::uint32_t SS_NOPREFIX = 0x0080;
constexpr std::uint32_t PBS_SMOOTH = 0x0001;
constexpr std::uint32_t WS_EX_ACCEPTFILES = 0x00000010;
constexpr std::uint32_t WS_EX_TRANSPARENT = 0x00000020;
constexpr std::uint32_t WS_EX_CLIENTEDGE = 0x00000200;
constexpr std::uint32_t WS_EX_STATICEDGE = 0x00020000;
constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000;

// Dialog units to pixels.
constexpr int DialogToPixelsX(int units) { return (units * 3 + 1) / 2; }
constexpr int DialogToPixelsY(int units) { return (units * 13 + 4) / 8; }

struct DialogRect {
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
  constexpr QRect Pixels() const {
    const int left = DialogToPixelsX(x), top = DialogToPixelsY(y);
    return QRect(left, top, DialogToPixelsX(x + cx) - left, DialogToPixelsY(y + cy) - top);
  }
};

enum class ControlKind { PushButton, StaticText, ProgressBar, EtchedLine, GroupBox, Icon };

// The size of the icon that an icon control shows (icon 7 at 32 x 32).
constexpr int kIconPixels = 32;

struct ControlTemplate {
  int id;
  ControlKind kind;
  std::string_view text;  // empty: none
  DialogRect units;
  std::uint32_t style;
  std::uint32_t ex_style;
  int icon = 0;  // the icon resource a ControlKind::Icon shows
  // An icon control takes the size of the icon it shows at its template position, whatever
  // the template's size: the icon is drawn whole.
  constexpr QRect Pixels() const {
    const QRect rect = units.Pixels();
    return kind == ControlKind::Icon ? QRect(rect.topLeft(), QSize(kIconPixels, kIconPixels))
                                     : rect;
  }
};

struct DialogTemplate {
  int id;
  std::string_view caption;
  int width;  // client size in dialog units
  int height;
  std::uint32_t style;
  std::uint32_t ex_style;
  int menu;  // 0: none
  std::string_view font;
  int point_size;
  constexpr QSize ClientPixels() const {
    return QSize(DialogToPixelsX(width), DialogToPixelsY(height));
  }
};

struct MenuItemTemplate {
  std::string_view popup;
  std::string_view text;
  int id;
  bool checked;
};

inline constexpr DialogTemplate kFlasherTemplate{
    IDD_FLASHER,
    "Quelt Flasher USB 1.0",
    236,
    94,
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_CENTER |
        DS_3DLOOK | DS_SETFONT | DS_FIXEDSYS,
    WS_EX_APPWINDOW | WS_EX_STATICEDGE | WS_EX_ACCEPTFILES,
    IDR_MENU,
    "MS Shell Dlg",
    8};

// In tab order. Neither button is a default button.
inline constexpr ControlTemplate kFlasherControls[] = {
    {IDC_WRITE,
     ControlKind::PushButton,
     "Write",
     {15, 18, 60, 14},
     BS_PUSHBUTTON | WS_VISIBLE | WS_TABSTOP,
     0},
    {IDC_VERIFY,
     ControlKind::PushButton,
     "Verify",
     {80, 18, 55, 14},
     BS_PUSHBUTTON | WS_VISIBLE | WS_TABSTOP,
     0},
    {IDC_STATUS,
     ControlKind::StaticText,
     "Ready",
     {8, 85, 221, 8},
     SS_LEFTNOWORDWRAP | WS_VISIBLE | WS_GROUP,
     WS_EX_TRANSPARENT},
    {IDC_PROGRESS,
     ControlKind::ProgressBar,
     "",
     {15, 44, 120, 18},
     PBS_SMOOTH | WS_VISIBLE,
     WS_EX_CLIENTEDGE},
    {IDC_STATIC, ControlKind::EtchedLine, "", {7, 81, 222, 1}, SS_ETCHEDHORZ | WS_VISIBLE, 0},
    {IDC_STATIC, ControlKind::GroupBox, "", {6, 0, 138, 76}, BS_GROUPBOX | WS_VISIBLE, 0},
};

inline constexpr MenuItemTemplate kFlasherMenu[] = {
    {"&File", "&Load Bios...", ID_FILE_LOADBIOS, false},
    {"&File", "E&xit", ID_FILE_EXIT, false},
    {"&Parameters", "&Use safe mode (slower)", ID_PARAMETERS_SAFEMODE, true},
    {"&Help", "&About", ID_HELP_ABOUT, false},
};

inline constexpr DialogTemplate kAboutTemplate{
    IDD_ABOUTBOX,
    "About Quelt Flasher USB",
    211,
    45,
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    0,
    0,
    "MS Shell Dlg",
    8};

inline constexpr ControlTemplate kAboutControls[] = {
    {IDC_STATIC, ControlKind::Icon, "", {13, 10, 20, 20}, SS_ICON | WS_VISIBLE, 0, IDR_MAINFRAME},
    {IDC_STATIC,
     ControlKind::StaticText,
     "Quelt Flasher USB 1.0",
     {44, 12, 78, 8},
     SS_LEFT | SS_NOPREFIX | WS_VISIBLE,
     0},
    {IDOK,
     ControlKind::PushButton,
     "OK",
     {145, 15, 50, 16},
     BS_DEFPUSHBUTTON | WS_VISIBLE | WS_TABSTOP | WS_GROUP,
     0},
};

}  // namespace quelt
