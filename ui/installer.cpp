// installer.cpp - the installer's four dialogs and its table of states.
#include "ui/installer.h"

#include <commctrl.h>

#include "app/configcheck.h"
#include "app/setuplayout.h"
#include "app/setupstate.h"
#include "app/textformat.h"
#include "app/setuptext.h"
#include "app/wintext.h"
#include "coding/widetext.h"
#include "install/installdir.h"
#include "install/removal.h"
#include "install/worker.h"
#include "package/package.h"
#include "package/packageerror.h"
#include "resources/resource.h"
#include "ui/background.h"
#include "ui/setupwindow.h"

enum {
    STATE_INSTALL = 2,
    STATE_FINISHED = 3,
    STATE_WELCOME = 4,
    STATE_ROLLBACK = 5,
    TIMER_DIALOG = 1,             // the installing and rollback dialogs' own timer
    DIALOG_TICK_MS = 100,
    ROLLBACK_START_MS = 10,       // the rollback starts once its dialog is painted (paints go before timers)
    ROLLBACK_BAR_RANGE = 10,      // the rollback's bar stands full: it has no measure of its own
    WORKER_END_WAIT_MS = 2000,    // the worker has posted its end and is returning
    WM_WORKER_DONE = WM_APP + 1,
    WELCOME_RESULT_GO = 6,
    LABEL_SIZE = 256,             // the label format and the name, both in UTF-8
    TEXT_SIZE = 1024,             // the finished text with the longest names and folder
    SAMPLES_LINE_SIZE = 512,
    CAPTION_SIZE = 512
};

static FileHandle setupPackage = INVALID_FILE;
static HWND fileDialog;           // the installing or the rollback dialog, while it is shown
static int runProductChecked;
static int registrationMade;      // every shortcut and the uninstall entry
static int installTicks;
static int workerStarted;         // startInstallWorker has returned
static int commonControlsReady;
static int installDirFits;

// The common controls library from the system folder, never from the folder
// the setup was started from. Returns 1 when the progress bar class is there.
static int loadCommonControls(void)
{
    HMODULE library = loadSystemLibrary("COMCTL32.DLL");
    if (!library)
        return 0;
    typedef BOOL(WINAPI * InitFunction)(const INITCOMMONCONTROLSEX*);
    InitFunction init = (InitFunction)(void (*)(void))GetProcAddress(library, "InitCommonControlsEx");
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    return init && init(&controls);
}

#define DIGITS_OF(number) #number
#define NUMBER_TEXT(number) DIGITS_OF(number)

// "The setup is not finished! Do you really want to abort?"; true on Yes.
static bool confirmAbort(HWND owner)
{
    return showMessage(owner, "The setup is not finished! Do you really want to abort?", "Confirm",
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

static const DialogButton welcomeButtons[] = {
    {IDC_FINISH, WELCOME_RESULT_GO, NULL},
    {IDC_WELCOME_CANCEL, IDCANCEL, confirmAbort},
    {IDCANCEL, IDCANCEL, confirmAbort},
};

// The worker's reports, called on its thread: each window call here waits
// for the interface thread, which serves it from the dialog's modal loop.
static bool confirmInstallAbort(void)
{
    return confirmAbort(fileDialog);
}

// Both dialogs name the file at work.
static void showFileAtWork(const char* path)
{
    setDialogText(fileDialog, IDC_CURRENT_FILE, path);
}

static void showWriteFailure(const char* path)
{
    char text[sizeof installDir + 96];
    formatText(text, sizeof text,
               "Setup could not write the file\n\n%s\n\nThe files installed so far will be removed.", path);
    showMessage(fileDialog, text, "Install", MB_OK | MB_ICONERROR);
}

static void disableCancel(void)
{
    EnableWindow(GetDlgItem(fileDialog, IDCANCEL), FALSE);
}

static void announceWorkerEnd(void)
{
    PostMessageW(fileDialog, WM_WORKER_DONE, 0, 0);
}

static INT_PTR CALLBACK installingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        char label[LABEL_SIZE];
        formatWithName(label, sizeof label, setupText.installingLabelFormat, setupText.productName);
        setDialogText(dialog, IDC_LABEL, label);
        progressBar = GetDlgItem(dialog, IDC_PROGRESS);
        if (progressBar)
            SendMessageA(progressBar, PBM_SETRANGE32, 0, (LPARAM)setupConfig.progressRange);
        fileDialog = dialog;
        workerReports.confirmAbort = confirmInstallAbort;
        workerReports.showFile = showFileAtWork;
        workerReports.showWriteFailure = showWriteFailure;
        workerReports.cancelOff = disableCancel;
        workerReports.ended = announceWorkerEnd;
        abortRequested = 0;
        abortLatch = 0;
        installTicks = 0;
        workerStarted = 0;
        SetTimer(dialog, TIMER_DIALOG, DIALOG_TICK_MS, NULL);
        return TRUE;
    }
    case WM_WORKER_DONE:
    case WM_TIMER: {
        if (message == WM_TIMER && ++installTicks == 1) {
            startInstallWorker();
            workerStarted = 1;
            return FALSE;
        }
        // A worker that runs in place dispatches this timer itself: its ticks
        // wait until the run has returned, so an abort stays an abort.
        if (!workerStarted)
            return FALSE;
        // The worker has posted its end and is returning: wait for that.
        int outcome = installWorkerOutcome(message == WM_WORKER_DONE ? WORKER_END_WAIT_MS : 0);
        if (outcome) {
            KillTimer(dialog, TIMER_DIALOG);
            EndDialog(dialog, outcome);
        }
        return FALSE;
    }
    case WM_COMMAND:
        // The worker's progress hook asks the question; here it is only noted.
        if (LOWORD(wParam) == IDCANCEL && !abortLatch)
            abortRequested = 1;
        return TRUE;
    }
    return FALSE;
}

static INT_PTR CALLBACK finishedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        char samples[SAMPLES_LINE_SIZE] = "";
        char folder[sizeof installDir];
        if (setupText.samplesDescription[0] && formFolderPath(folder, sizeof folder, SAMPLES_FIRST_INDEX))
            formatText(samples, sizeof samples, "Some %s can be found in %s\n\n", setupText.samplesDescription,
                       folder);
        // The Start Menu group is the install folder's name (no name: the Programs folder).
        const char* group = setupText.installFolderName[0] ? setupText.installFolderName : "Programs";
        char text[TEXT_SIZE];
        // The Start Menu is promised only where the shortcuts were made.
        if (registrationMade)
            formatText(text, sizeof text,
                       "Setup is complete and %s V%s is now installed on your computer!\n\n"
                       "%s is accessible through the Start Menu, under %s.\n\n%sClick Finish.",
                       setupText.productName, setupText.productVersion, setupText.productName, group, samples);
        else
            formatText(text, sizeof text,
                       "%s V%s is now installed on your computer, but not all of its Start Menu shortcuts "
                       "(under %s) or its entry in the list of programs could be made.\n\n%sClick Finish.",
                       setupText.productName, setupText.productVersion, group, samples);
        setDialogText(dialog, IDC_TEXT, text);
        runProductChecked = 1;
        char caption[CAPTION_SIZE];
        formatText(caption, sizeof caption, "Run %s", setupText.productName);
        setDialogText(dialog, IDC_RUN_PRODUCT, caption);
        SendDlgItemMessageA(dialog, IDC_RUN_PRODUCT, BM_SETCHECK, (WPARAM)runProductChecked, 0);
        scaleDialogPicture(dialog);
        return TRUE;
    }
    case WM_DESTROY:
        releaseDialogPicture();
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_RUN_PRODUCT:
            runProductChecked = (int)SendDlgItemMessageA(dialog, IDC_RUN_PRODUCT, BM_GETCHECK, 0, 0);
            break;
        case IDC_FINISH:
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, runProductChecked);
            break;
        }
        return TRUE;
    }
    return FALSE;
}

static INT_PTR CALLBACK rollbackDialogProc(HWND dialog, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
        setDialogText(dialog, IDC_LABEL, "Removing installed files:");
        EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
        if (bar) {
            SendMessageA(bar, PBM_SETRANGE32, 0, ROLLBACK_BAR_RANGE);
            SendMessageA(bar, PBM_SETPOS, ROLLBACK_BAR_RANGE, 0);
        }
        fileDialog = dialog;
        SetTimer(dialog, TIMER_DIALOG, ROLLBACK_START_MS, NULL);
        return TRUE;
    }
    case WM_TIMER:
        KillTimer(dialog, TIMER_DIALOG);
        rollBackInstall(installedFileCount, showFileAtWork);
        EndDialog(dialog, 1);
        return FALSE;
    }
    return FALSE;
}

// Starts the installed main program when the finished dialog's box stayed ticked.
static void runProduct(void)
{
    char path[sizeof installDir];
    char command[sizeof installDir + 2];
    wchar_t wide[WIDE_UNITS_FOR_UTF8(sizeof command)];
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    // Quoted: a folder with a space must not start C:\Program.exe instead.
    if (runProductChecked && formInstalledPath(path, sizeof path, 1) &&
        formatText(command, sizeof command, "\"%s\"", path) > 0 &&
        utf8ToWide(command, wide, (int)(sizeof wide / sizeof wide[0])) > 0 &&
        CreateProcessW(NULL, wide, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

static void showWelcome(HWND window)
{
    setupPackage = openPackage(NULL);
    PackageError why = packageLastError();
    // A file the system will not open for us is no damaged one: say why.
    if (setupPackage == INVALID_FILE && (why == PACKAGE_NO_SUCH_FILE || why == PACKAGE_CANNOT_OPEN)) {
        setExitCode(EXIT_FAILED);
        char path[FILE_PATH_SIZE], message[sizeof path + 64];
        const char* text = "This setup program lies too deep: the path of its file is longer than "
                           NUMBER_TEXT(LONG_PATH_UNITS) " characters. Move it to a shorter folder and start it again.";
        if (getModulePath(path, sizeof path)) {
            formatText(message, sizeof message, "Setup cannot read its own file\n\n%s\n\nSetup cannot continue.",
                       path);
            text = message;
        }
        showMessage(window, text, "Install", MB_OK | MB_ICONERROR);
        scheduleState(STATE_CLOSE);
        return;
    }
    // A setup that names files outside its folder, or lacks one, is damaged
    // just as a cut one is: nothing of it is written.
    if (setupPackage == INVALID_FILE || !setupIsWhole()) {
        setExitCode(EXIT_DAMAGED);
        showMessage(window,
                    "This setup program is truncated.  It's most likely that the download wasn't fully "
                    "completed.  Please get a new copy.",
                    "Install", MB_OK | MB_ICONERROR);
        scheduleState(STATE_CLOSE);
        return;
    }
    if (!installDirFits) {
        setExitCode(EXIT_FAILED);
        char text[sizeof installDir + 96];
        formatText(text, sizeof text, "The install folder is too long for the files of this product:\n\n%s\n\n"
                   "Setup cannot continue.", installDir);
        showMessage(window, text, "Install", MB_OK | MB_ICONERROR);
        scheduleState(STATE_CLOSE);
        return;
    }
    char text[TEXT_SIZE];
    const char* name = setupText.productName;
    formatText(text, sizeof text,
               "Welcome to the %s setup program.\n\nThis setup will install %s V%s on your computer.\n\n"
               "When you are ready to start installing the program, click Finish.",
               name, name, setupText.productVersion);
    TextDialog welcome = {IDD_WELCOME + paletteOffset, IDC_TEXT, welcomeButtons,
                          (int)(sizeof welcomeButtons / sizeof welcomeButtons[0])};
    if (showTextDialog(&welcome, text) == WELCOME_RESULT_GO) {
        scheduleState(STATE_INSTALL);
    } else {
        setExitCode(EXIT_CANCELLED);
        scheduleState(STATE_CLOSE);
    }
}

static void closeSetupPackage(void)
{
    closePackage(setupPackage);
    setupPackage = INVALID_FILE;
}

static void runInstall(HWND)
{
    commonControlsReady = loadCommonControls();
    INT_PTR result = showDialog(commonControlsReady ? IDD_INSTALLING : IDD_INSTALLING_PLAIN, installingDialogProc);
    closeSetupPackage();
    int installed = result == WORKER_INSTALLED || result == WORKER_INCOMPLETE;
    registrationMade = result == WORKER_INSTALLED;
    if (result == WORKER_INCOMPLETE)
        setExitCode(EXIT_INCOMPLETE);
    else if (!installed)
        setExitCode(result == WORKER_ABORTED ? EXIT_CANCELLED : EXIT_FAILED);
    scheduleState(installed ? STATE_FINISHED : STATE_ROLLBACK);
}

static void showFinished(HWND)
{
    showDialog(IDD_FINISHED + paletteOffset, finishedDialogProc);
    scheduleState(STATE_CLOSE);
}

static void runRollback(HWND)
{
    // Without the common controls the installing template cannot be made;
    // the one without a progress bar serves instead.
    showDialog(commonControlsReady ? IDD_INSTALLING : IDD_INSTALLING_PLAIN, rollbackDialogProc);
    scheduleState(STATE_CLOSE);
}

static void checkInstallDir(HWND)
{
    // A configuration that fails the check gives no folder and no write at all;
    // the welcome state then calls the setup damaged.
    installDirFits = setupConfigProblem(&setupConfig, NULL) == CONFIG_OK && resolveInstallDir();
}

static const FlowState installStates[] = {
    {STATE_WELCOME, showWelcome},
    {STATE_INSTALL, runInstall},
    {STATE_FINISHED, showFinished},
    {STATE_ROLLBACK, runRollback},
};

static const SetupFlow installFlow = {
    L"TambSetupClass", L"Install", IDI_SETUP, WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
    installStates, sizeof installStates / sizeof installStates[0], STATE_WELCOME,
    checkInstallDir, closeSetupPackage};

int runInstaller(HINSTANCE instance, HINSTANCE previous)
{
    HBRUSH background = previous ? NULL : CreateSolidBrush(setupConfig.backColorTop);
    int exitCode = runSetupWindow(instance, previous, &installFlow, background);
    runProduct();
    return exitCode;
}
