// Resource identifiers of the program: dialogs, strings, pictures and controls.
#pragma once

// System-menu command of the About entry.
#define IDM_ABOUTBOX 0x0010

// Dialogs.
#define IDD_ABOUTBOX 100
#define IDD_VELMORA_DIALOG 102
#define IDD_ADD_RTSP_STREAM 132
#define IDD_ADD_SDP_STREAM 133

// Strings: the About entry of the system menu and the list column headings.
#define IDS_ABOUTBOX 101
#define IDS_COLUMN_STREAMNAME 102
#define IDS_COLUMN_RTSP 103
#define IDS_COLUMN_MULTICAST 107
#define IDS_COLUMN_SOURCE 108
#define IDS_COLUMN_COR 109
#define IDS_COLUMN_SAP 110
#define IDS_COLUMN_ORIGIN 111

// Pictures.
#define IDR_MAINFRAME 128
#define IDB_SORT_UP 129
#define IDB_SORT_DOWN 130
#define IDR_PNG_LOGO 134

// Controls of the main dialog.
#define IDC_LOG_PLACEHOLDER 1004
#define IDC_LIST_CORVANE 1005
#define IDC_REFRESH 1006
#define IDC_LIST_SAP 1007
#define IDC_ADD_RTSP 1008
#define IDC_ADD_SDP 1009
#define IDC_HEADING_CORVANE 1010
#define IDC_HEADING_SAP 1011
#define IDC_LIST_LOCAL 1012
#define IDC_HEADING_LOCAL 1013
#define IDC_AUTO_CORVANE_SAP 1014
#define IDC_CORVANE_TO_SAP 1015
#define IDC_CORVANE_SAP_OFF 1016
#define IDC_SAP_TO_CORVANE 1017
#define IDC_SAP_CORVANE_OFF 1018
#define IDC_LOCAL_REMOVE 1019
#define IDC_AUTO_LOCAL 1020
#define IDC_AUTO_LOCAL_CORVANE 1021
#define IDC_LABEL_LOCAL_CORVANE 1024
#define IDC_LOCAL_CORVANE_ADD 1025
#define IDC_LOCAL_CORVANE_REMOVE 1026
#define IDC_AUTO_LOCAL_SAP 1027
#define IDC_LABEL_LOCAL_SAP 1028
#define IDC_LOCAL_SAP_ADD 1029
#define IDC_LOCAL_SAP_REMOVE 1030

// Controls of the add-stream dialogs.
#define IDC_EDIT_URL 1009
#define IDC_EDIT_SDP 1016

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
