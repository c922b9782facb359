// resource.h - ids of the setup program's resources and dialog controls.
// Shared by setup.rc and the code; a test driver finds the dialogs by them.
#ifndef RESOURCE_H
#define RESOURCE_H

// Dialog templates. Palette mode (8-bit displays) adds 100 to welcome and finished.
#define IDD_WELCOME 101
#define IDD_FINISHED 102
#define IDD_INSTALLING 103            // also the rollback dialog
#define IDD_INSTALLING_PLAIN 109      // without the progress bar (no common controls)
#define IDD_WELCOME_PALETTE 201
#define IDD_FINISHED_PALETTE 202
#define IDD_UNINSTALL_WELCOME 301
#define IDD_UNINSTALL_FINISHED 302

// Pictures of the welcome and finished dialogs; 107 has 8 colours for palette mode.
#define IDB_PICTURE 103
#define IDB_PICTURE_PALETTE 107

// Where the welcome and finished dialogs' picture lies (dialog units). At
// the display's scale the picture is drawn to fill this place, so it grows
// with the dialog's own layout.
#define PICTURE_LEFT 9
#define PICTURE_TOP 10
#define PICTURE_WIDTH 87
#define PICTURE_HEIGHT 118

// Icon groups, in this order: the uninstaller's shortcut takes icon index 1.
#define IDI_SETUP 104
#define IDI_UNINSTALL 301

// Controls.
#define IDC_FINISH 6                  // welcome and finished: Finish
#define IDC_WELCOME_CANCEL 7          // welcome: Cancel
#define IDC_LABEL 105                 // installing: "Installing ..."
#define IDC_CURRENT_FILE 106          // installing: the file being written
#define IDC_TEXT 108                  // welcome, finished: the dialog text
#define IDC_PICTURE 110               // welcome, finished: the picture
#define IDC_RUN_PRODUCT 1001          // finished: "Run <product>"
#define IDC_PROGRESS 1002             // installing: msctls_progress32

#endif
