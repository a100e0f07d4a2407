#pragma once

// Resource IDs of kdr4tose. Plain defines: the resource compiler reads this file too.

#define IDR_MAINFRAME 128        // the application icon
#define IDD_ABOUTBOX 100         // the About box
#define IDS_ABOUTBOX 101         // the About entry of the system menu
#define IDD_KDR4TOSE_DIALOG 102  // the main dialog
#define IDM_ABOUTBOX 0x0010      // command ID of the About entry
#define IDC_COLLECT 1000         // "情報収集開始"
#define IDC_MIGRATE 1001         // "情報移行開始"
#define IDC_ABOUT_VERSION 1002   // About box: name and version line
#define IDC_ABOUT_NOTE 1003      // About box: second line
#define IDT_REFRESH 1            // the one-second button refresh timer
#ifndef IDC_STATIC
#define IDC_STATIC (-1)  // controls the program never addresses
#endif
