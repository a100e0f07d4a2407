#pragma once

// Resource IDs of kdr4tose. Plain defines: the resource compiler reads this file too.

#define IDR_MAINFRAME 128         // the application icon
#define IDD_ABOUTBOX 100          // the About box
#define IDS_ABOUTBOX 101          // the About entry of the system menu
#define IDD_KDR4TOSE_DIALOG 102   // the main dialog
#define IDM_ABOUTBOX 0x0010       // command ID of the About entry
#define IDC_COLLECT 1000          // "情報収集開始"
#define IDC_MIGRATE 1001          // "情報移行開始"
#define IDC_ABOUT_VERSION 1002    // About box: name and version line
#define IDC_ABOUT_NOTE 1003       // About box: second line
#define IDD_PROGRESS 103          // the progress window of a running command
#define IDC_PROGRESS_STEP 1010    // progress window: edition and step
#define IDC_PROGRESS_BAR 1011     // progress window: the bar
#define IDC_PROGRESS_COUNTS 1012  // progress window: files and bytes done
#define IDC_PROGRESS_LEFT 1013    // progress window: time left
#define IDT_REFRESH 1             // the one-second button refresh timer
#define IDT_PROGRESS 2            // the progress window's update timer
#ifndef IDC_STATIC
#define IDC_STATIC (-1)  // controls the program never addresses
#endif
