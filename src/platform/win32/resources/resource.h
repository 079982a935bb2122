// Resource and control identifiers of the Windows program, shared by the
// resource script and the window code.
#pragma once

#define IDI_VI2ZEZIR 1
#define IDB_LOGO 101

#define IDC_TXT_EXCEL_FILE 1001
#define IDC_CMD_EXPORT 1002
#define IDC_CMD_OTHER_FILE 1003
#define IDC_PICTURE1 1004
#define IDC_LABEL1 1005
#define IDC_LABEL2 1006
#define IDC_LABEL3 1007
#define IDC_LABEL4 1008
#define IDC_LINE1 1009
#define IDC_SB 1010
