// Identifiers shared by the applicator's resource script and its code: resources, page
// results and control identifiers.
#ifndef AMBREL_UI_RESOURCE_H
#define AMBREL_UI_RESOURCE_H

#define IDI_PROGRAM 1        // the program icon
#define IDR_MESSAGES 101     // RCDATA: the apply phase's text table
#define IDM_START_FLOW 101   // WM_COMMAND identifier the program posts to start its flow

// Page results and the page buttons.
#define IDC_BACK 300
#define IDC_NEXT 301

// Controls of the wizard pages.
#define IDC_PICTURE 199      // the picture area of every page
#define IDC_TITLE 101        // CONFIRM1: package title
#define IDC_DESCRIPTION 102  // CONFIRM1: package description
#define IDC_FOLDER 101       // CONFIRM2 and CONFIRM3: the target folder
#define IDC_BROWSE 102       // CONFIRM2: Browse

// Controls of the progress dialog (the apply engine numbers its items the same way).
#define IDC_PROGRESS_NAME 101
#define IDC_PROGRESS_DESCRIPTION 102
#define IDC_PROGRESS_OPERATION 103
#define IDC_PROGRESS_BAR 105

// Standard identifiers of the system's classic file dialog, used by the BROWSE template.
#define IDC_FD_FILE_EDIT 1152
#define IDC_FD_FILE_LIST 1120
#define IDC_FD_FOLDER_LIST 1121
#define IDC_FD_FOLDER_TEXT 1088
#define IDC_FD_TYPE_LABEL 1089
#define IDC_FD_NAME_LABEL 1090
#define IDC_FD_DRIVE_LABEL 1091
#define IDC_FD_TYPE_COMBO 1136
#define IDC_FD_DRIVE_COMBO 1137
#define IDC_FD_READ_ONLY 1040
#define IDC_FD_HELP 1038

#endif
