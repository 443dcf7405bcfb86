// Resource and control identifiers. The same control numbers recur across the
// dialogs: 1 the action button, 1006 the log box (the process list in 133),
// 1008 the progress bar, 1032 the owner-drawn header band.
#pragma once

#define IDI_INSTALL            101
#define IDI_REPAIR             102
#define IDI_UNINSTALL          103

#define IDD_INSTKIT_DIALOG     129
#define IDD_IME_LOAD_STATUS    133
#define IDD_INSTALL_LICENCE    135
#define IDD_REPAIR             140
#define IDD_UNINSTALL          141
#define IDD_EXTRACT            142

#define IDC_AGREE              1001
#define IDC_LICENCE_LINK       1002
#define IDC_EXTRACT_TEXT       1002
#define IDC_DISAGREE           1003
#define IDC_FOLDER_GROUP       1004
#define IDC_BROWSE             1005
#define IDC_LOG                1006
#define IDC_PROCESS_LIST       1006
#define IDC_HOMEPAGE_CHECK     1007
#define IDC_PROGRESS           1008
#define IDC_NEWS_CHECK         1009
#define IDC_BROWSER            1014
#define IDC_FORCE_END          1015
#define IDC_RETRY              1016
#define IDC_GO_ON              1017
#define IDC_FOLDER_EDIT        1022
#define IDC_HEADER             1032
