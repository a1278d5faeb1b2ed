// Resource numbers shared by the resource script and the program.
#define IDI_UNINSTALL 800
#define IDD_READONLY 109
#define IDD_PROGRESS 110
#define IDC_TEXT 1000
#define IDC_YESTOALL 1001
#define IDC_NOTOALL 1002
#define IDC_PROGRESS 1009
