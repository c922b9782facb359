// uninstaller.cpp - the uninstaller's two dialogs and its table of states.
#include "install/uninstaller.h"

#include "app/setupstate.h"
#include "app/textformat.h"
#include "install/removal.h"
#include "install/selfdelete.h"
#include "resources/resource.h"
#include "ui/setupwindow.h"

enum {
    UNINSTALL_REMOVE = 2,
    UNINSTALL_WELCOME = 3,
    TEXT_SIZE = 512,
    WELCOME_RESULT_GO = 1
};

static INT_PTR CALLBACK uninstallWelcomeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (forwardPaletteMessage(dialog, message, wParam, lParam))
        return FALSE;
    switch (message) {
    case WM_INITDIALOG: {
        char text[TEXT_SIZE];
        const char* name = setupConfig.productName;
        formatText(text, sizeof text,
                   "Welcome to the %s uninstall program.\n\nThis program will remove all of the files, "
                   "components and shortcuts that were installed on your computer by the %s setup program."
                   "\n\nIf you do not want to remove the software, then click on Cancel.",
                   name, name);
        SetDlgItemTextA(dialog, IDC_TEXT, text);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:                 // "Uninstall"
            EndDialog(dialog, WELCOME_RESULT_GO);
            break;
        case IDCANCEL:             // "Cancel", Esc, Enter on the default button
        case IDNO:
            EndDialog(dialog, IDCANCEL);
            break;
        }
        return TRUE;
    }
    return FALSE;
}

static INT_PTR CALLBACK uninstallFinishedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        char text[TEXT_SIZE];
        formatText(text, sizeof text,
                   "The uninstall program has successfully removed the %s %s software from your computer."
                   "\n\nIf you would like to use this software again, you will need to run the setup program "
                   "and re-install it.\n\nPress the OK button.",
                   setupConfig.productName, setupConfig.productVersion);
        SetDlgItemTextA(dialog, IDC_TEXT, text);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, IDCANCEL);   // OK or Esc: either way the same end
        return TRUE;
    }
    return FALSE;
}

static void showUninstallWelcome(HWND)
{
    INT_PTR answer = showDialog(IDD_UNINSTALL_WELCOME, uninstallWelcomeDialogProc);
    scheduleState(answer == WELCOME_RESULT_GO ? (int)UNINSTALL_REMOVE : (int)STATE_CLOSE);
}

static void removeProduct(HWND)
{
    removeInstallation();
    showDialog(IDD_UNINSTALL_FINISHED, uninstallFinishedDialogProc);
    launchSelfDelete();
    scheduleState(STATE_CLOSE);
}

static const FlowState uninstallStates[] = {
    {UNINSTALL_WELCOME, showUninstallWelcome},
    {UNINSTALL_REMOVE, removeProduct},
};

static const SetupFlow uninstallFlow = {
    "UnInstallProg", "Uninstall", IDI_UNINSTALL, 0,
    uninstallStates, sizeof uninstallStates / sizeof uninstallStates[0], UNINSTALL_WELCOME,
    NULL, NULL};

int runUninstaller(HINSTANCE instance, HINSTANCE previous)
{
    return runSetupWindow(instance, previous, &uninstallFlow, (HBRUSH)(COLOR_WINDOW + 1));
}
