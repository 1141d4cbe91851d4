// Resource and control ids shared by the resource script and the code.
#pragma once

#define IDR_MAINFRAME            128   // icon
#define IDD_VESTREL_DIALOG       102
#define IDD_SHOWNTFS             130
#define IDD_ABOUTBOX             138
#define IDR_CONTEXT_MENU         129
#define IDR_BANNER_GIF           143
#define IDB_LOGO                 140
#define IDB_UPDATE1              141
#define IDB_UPDATE2              142
#define IDB_UPDATE3              143
#define IDB_UPDATE4              144
#define IDB_UPDATE5              145
#define IDB_BANNER               146

// Main dialog controls
#define IDC_RADIO_SYSTEMDIR      1000
#define IDC_RADIO_ALLDRIVES      1001
#define IDC_RADIO_FOLDER         1002
#define IDC_EDIT_FOLDER          1003
#define IDC_BUTTON_BROWSE        1004
#define IDC_BUTTON_STOP          1005
#define IDC_BUTTON_SCAN          1006
#define IDC_GROUP_OPTIONS        1007
#define IDC_GROUP_RESULT         1008
#define IDC_LIST_RESULT          1009
#define IDC_BUTTON_ABOUT         1011
#define IDC_STATIC_STATUS        1012
#define IDC_PICTURE_ANIMATION    1023
#define IDC_PICTURE_BANNER       1027

// Stream viewer controls
#define IDC_EDIT_CONTENT         1013
#define IDC_BUTTON_CLOSE_VIEWER  1014

// About box controls
#define IDC_ABOUT_LOGO           1023
#define IDC_EDIT_SUPPORT_MAIL    1024
#define IDC_EDIT_SAMPLE_MAIL     1025
#define IDC_EDIT_WEBSITE         1026

// Context menu commands
#define ID_VIEW_STREAM           32771
#define ID_CHECK_ALL             32772
#define ID_UNCHECK_ALL           32773
#define ID_DELETE_SELECTED       32774
#define ID_DELETE_ALL            32775
#define ID_SAVE_SCAN_LOG         32776
