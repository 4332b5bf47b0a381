// Identifiers of the start program's window.
#define IDD_CHOOSE 100
#define IDC_WORKSPACES 1001
