// Ids of the dialog-manager tests' dialogs and controls.
#pragma once

constexpr int IDD_CLASSIC = 100;
constexpr int IDD_EXTENDED = 101;
constexpr int IDD_UNKNOWN_CLASS = 102;

constexpr int IDC_LABEL = 1000;
constexpr int IDC_NAME = 1001;
constexpr int IDC_GROUP = 1002;
constexpr int IDC_FAST = 1003;
constexpr int IDC_BEST = 1004;
constexpr int IDC_DRAFT = 1005;
constexpr int IDC_COLLATE = 1006;

constexpr int IDM_CLASSIC = 200;
constexpr int IDM_EXTENDED = 201;
constexpr int IDM_OPEN = 300;
constexpr int IDM_SAVE = 301;
constexpr int IDM_RECENT1 = 302;
constexpr int IDM_HELP = 303;
constexpr int IDD_GALLERY = 103;

constexpr int IDB_ZEL = 400;
constexpr int IDI_ZEL = 401;
constexpr int IDD_ICON = 104;
constexpr int IDC_ICON = 1010;
