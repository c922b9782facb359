// uninstaller.cpp - the uninstaller's two dialogs and its table of states.
#include "install/uninstaller.h"

#include "app/setupstate.h"
#include "app/setuptext.h"
#include "app/textformat.h"
#include "app/wintext.h"
#include "install/removal.h"
#include "install/selfdelete.h"
#include "resources/resource.h"
#include "ui/setupwindow.h"

enum {
    UNINSTALL_REMOVE = 2,
    UNINSTALL_WELCOME = 3,
    TEXT_SIZE = 512,
    LEFTOVERS_SIZE = 512,   // a few paths; a longer list is cut
    WELCOME_RESULT_GO = 1
};

static const DialogButton welcomeButtons[] = {
    {IDOK, WELCOME_RESULT_GO, NULL},       // "Uninstall"
    {IDCANCEL, IDCANCEL, NULL},            // "Cancel", Esc, Enter on the default button
    {IDNO, IDCANCEL, NULL},
};
static const TextDialog welcomeDialog = {IDD_UNINSTALL_WELCOME, IDC_TEXT, welcomeButtons,
                                         (int)(sizeof welcomeButtons / sizeof welcomeButtons[0])};

// OK or Esc: either way the same end.
static const DialogButton finishedButtons[] = {{IDOK, IDCANCEL, NULL}, {IDCANCEL, IDCANCEL, NULL}};
static const TextDialog finishedDialog = {IDD_UNINSTALL_FINISHED, IDC_TEXT, finishedButtons,
                                          (int)(sizeof finishedButtons / sizeof finishedButtons[0])};

// Says why nothing is removed here, and ends.
static void refuse(HWND window, int why)
{
    char text[TEXT_SIZE];
    const char* name = setupText.productName;
    if (why == REFUSED_SETUP)
        formatText(text, sizeof text,
                   "This program is the %s setup program, not its uninstall program, although its name "
                   "says \"uninst\". It removes nothing.\n\nTo remove %s, use the uninstall program in its "
                   "install folder or the list of installed programs.",
                   name, name);
    else
        formatText(text, sizeof text,
                   "%s is not installed in this folder:\n\n%s\n\nThis uninstall program removes nothing here. "
                   "To remove %s, use the uninstall program in its install folder or the list of installed "
                   "programs.",
                   name, installDir, name);
    setExitCode(EXIT_REFUSED);
    showMessage(window, text, "Uninstall", MB_OK | MB_ICONINFORMATION);
    scheduleState(STATE_CLOSE);
}

static void showUninstallWelcome(HWND window)
{
    int why = uninstallRefusal();
    if (why) {
        refuse(window, why);
        return;
    }
    char text[TEXT_SIZE];
    const char* name = setupText.productName;
    formatText(text, sizeof text,
               "Welcome to the %s uninstall program.\n\nThis program will remove all of the files, "
               "components and shortcuts that were installed on your computer by the %s setup program."
               "\n\nIf you do not want to remove the software, then click on Cancel.",
               name, name);
    if (showTextDialog(&welcomeDialog, text) == WELCOME_RESULT_GO) {
        scheduleState(UNINSTALL_REMOVE);
    } else {
        setExitCode(EXIT_CANCELLED);
        scheduleState(STATE_CLOSE);
    }
}

static void removeProduct(HWND)
{
    char leftovers[LEFTOVERS_SIZE];
    char text[TEXT_SIZE + LEFTOVERS_SIZE];
    int left = removeInstallation(leftovers, sizeof leftovers);
    // The batch is made before the text is written: where none can be, the
    // program itself stays, and is named with the rest.
    if (!prepareSelfDelete(leftovers, sizeof leftovers))
        left++;
    if (left) {
        // Success is only said when it is true: the files that stayed are named.
        setExitCode(EXIT_FAILED);
        formatText(text, sizeof text,
                   "The uninstall program removed the %s %s software from your computer, except for "
                   "these files, which could not be deleted:\n\n%s\nYou may delete them yourself."
                   "\n\nPress the OK button.",
                   setupText.productName, setupText.productVersion, leftovers);
    } else {
        formatText(text, sizeof text,
                   "The uninstall program has successfully removed the %s %s software from your computer."
                   "\n\nIf you would like to use this software again, you will need to run the setup "
                   "program and re-install it.\n\nPress the OK button.",
                   setupText.productName, setupText.productVersion);
    }
    showTextDialog(&finishedDialog, text);
    startSelfDelete();
    scheduleState(STATE_CLOSE);
}

static const FlowState uninstallStates[] = {
    {UNINSTALL_WELCOME, showUninstallWelcome},
    {UNINSTALL_REMOVE, removeProduct},
};

static const SetupFlow uninstallFlow = {
    L"UnInstallProg", L"Uninstall", IDI_UNINSTALL, 0,
    uninstallStates, sizeof uninstallStates / sizeof uninstallStates[0], UNINSTALL_WELCOME,
    NULL, NULL};

int runUninstaller(HINSTANCE instance, HINSTANCE previous)
{
    return runSetupWindow(instance, previous, &uninstallFlow, (HBRUSH)(COLOR_WINDOW + 1));
}
