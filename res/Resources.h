#pragma once
// The window's resources: ids, the string table, menu 129 and the dialog
// templates 100 (About box) and 102 (main window). Positions are dialog units
// (x, y, width, height), turned into pixels with the dialog font's metrics.

#include <array>

namespace res {

// String table.
constexpr const char* kAboutMenuText = "&About Tarnlight...";

// Control ids.
constexpr int IDOK = 1;
constexpr int IDC_FILELIST = 1000;
constexpr int IDC_EXTRACT = 1001;
constexpr int IDC_DELETE = 1002;
constexpr int IDC_USED = 1003;
constexpr int IDC_MAXIMUM = 1004;
constexpr int IDC_FREE = 1005;
constexpr int IDC_STATIC = -1;

// Menu command ids.
constexpr int ID_DISK_OPEN = 32771;
constexpr int ID_DISK_SAVE = 32772;
constexpr int ID_DISK_CLOSE = 32773;
constexpr int ID_DISK_SAVEAS = 32774;
constexpr int ID_DISK_INFO = 32775;
constexpr int ID_DISK_NEW = 32776;
constexpr int ID_TOOLS_WRITEBOOTBLK = 32777;
constexpr int ID_DISK_EXIT = 32778;
constexpr int ID_TOOLS_READBOOTBLK = 32779;
constexpr int IDM_ABOUTBOX = 0x0010;

enum class ControlKind { PushButton, DefPushButton, ListView, Edit, Static, Icon };

struct Control {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, width, height;
};

struct DialogTemplate {
    const char* caption;
    int width, height;
};

constexpr DialogTemplate kMainDialog = {"Tarnlight", 302, 280};

// In template order, which is also the tab order.
constexpr std::array<Control, 10> kMainControls = {{
    {IDOK, ControlKind::DefPushButton, "Exit", 126, 259, 50, 14},
    {IDC_FILELIST, ControlKind::ListView, "", 7, 14, 199, 200},
    {IDC_EXTRACT, ControlKind::PushButton, "Extract", 227, 14, 50, 14},
    {IDC_DELETE, ControlKind::PushButton, "Delete", 227, 36, 50, 14},
    {IDC_USED, ControlKind::Edit, "", 57, 220, 40, 14},
    {IDC_STATIC, ControlKind::Static, "Total in use :", 14, 223, 42, 8},
    {IDC_MAXIMUM, ControlKind::Edit, "", 146, 220, 40, 14},
    {IDC_STATIC, ControlKind::Static, "Maximum :", 110, 223, 35, 8},
    {IDC_FREE, ControlKind::Edit, "", 57, 238, 40, 14},
    {IDC_STATIC, ControlKind::Static, "Free :", 35, 240, 20, 8},
}};

constexpr DialogTemplate kAboutDialog = {"About Tarnlight", 170, 62};

constexpr std::array<Control, 3> kAboutControls = {{
    {IDC_STATIC, ControlKind::Icon, "", 14, 14, 20, 20},
    {IDC_STATIC, ControlKind::Static, "Tarnlight, Version 1.0b", 42, 14, 114, 8},
    {IDOK, ControlKind::DefPushButton, "OK", 113, 41, 50, 14},
}};

struct MenuItem {
    const char* popup;
    const char* text; // nullptr for a separator
    int id;
};

// Menu 129 in order. Linux windows have no system menu to extend, so the
// About entry gets a "Help" popup of its own.
constexpr std::array<MenuItem, 11> kMainMenu = {{
    {"Disk", "New", ID_DISK_NEW},
    {"Disk", "Open...", ID_DISK_OPEN},
    {"Disk", "Save", ID_DISK_SAVE},
    {"Disk", "Save As...", ID_DISK_SAVEAS},
    {"Disk", "Info", ID_DISK_INFO},
    {"Disk", "Close", ID_DISK_CLOSE},
    {"Disk", nullptr, 0},
    {"Disk", "Exit", ID_DISK_EXIT},
    {"Tools", "Read BootBlk", ID_TOOLS_READBOOTBLK},
    {"Tools", "Write BootBlk", ID_TOOLS_WRITEBOOTBLK},
    {"Help", kAboutMenuText, IDM_ABOUTBOX},
}};

// Prompts of the string table; the window has no status line to show them.
struct Prompt {
    int id;
    const char* text;
};
constexpr std::array<Prompt, 6> kPrompts = {{
    {ID_DISK_NEW, "Create new disk image"},
    {ID_DISK_OPEN, "Open disk image"},
    {ID_DISK_SAVE, "Save disk image"},
    {ID_DISK_SAVEAS, "Save disk image"},
    {ID_DISK_INFO, "Show disk info"},
    {ID_DISK_CLOSE, "Close disk image"},
}};

} // namespace res
