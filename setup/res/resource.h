// Ids shared by the resource script and the dialog back end.
#pragma once
#define IDD_QVLINK_SETUP 1
#define IDB_RADIO 101
#define IDB_ADAPTER 102
#define IDC_PICTURE 1002
#define IDC_PICTURE_2 1003
#define IDC_TEXTMSG 1004
#define IDC_SERIAL_NUMBER 1005
#define IDC_SERIAL_LABEL 1007
#define IDC_CHANGE 1006
