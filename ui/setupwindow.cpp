// setupwindow.cpp - the setup window of both modes and its flow of states.
#include "ui/setupwindow.h"

#include "app/wintext.h"
#include "ui/background.h"

enum {
    TIMER_STATE = 1,              // one-shot: runs pendingState
    TIMER_DECORATION = 2,         // one placement step per tick
    STATE_DELAY_MS = 50,
    DECORATION_DELAY_MS = 10,
    WM_SETUP_STATE = WM_USER + 1  // wParam: the state whose step runs now
};

static HINSTANCE windowInstance;
static const SetupFlow* flow;
static int pendingState;
static int decorationStep;
static int exitCode;

void setExitCode(int code)
{
    exitCode = code;
}

void scheduleState(int state)
{
    pendingState = state;
    SetTimer(BackgroundWindow, TIMER_STATE, STATE_DELAY_MS, NULL);
}

INT_PTR showDialog(int templateId, DLGPROC procedure)
{
    return DialogBoxParamW(windowInstance, MAKEINTRESOURCEW(templateId), BackgroundWindow, procedure, 0);
}

static int isPaletteMessage(UINT message)
{
    return message == WM_ACTIVATE || message == WM_QUERYNEWPALETTE || message == WM_PALETTEISCHANGING ||
           message == WM_PALETTECHANGED;
}

int forwardPaletteMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!isPaletteMessage(message))
        return 0;
    onPaletteMessage(dialog, message, wParam, lParam);
    return 1;
}

// The text dialog being shown: dialogs over the window are modal, one at a time.
static const TextDialog* textDialog;
static const char* textDialogText;

static INT_PTR CALLBACK textDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (forwardPaletteMessage(dialog, message, wParam, lParam))
        return FALSE;
    if (message == WM_INITDIALOG) {
        setDialogText(dialog, textDialog->textControl, textDialogText);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    for (int i = 0; i < textDialog->buttonCount; i++) {
        const DialogButton& button = textDialog->buttons[i];
        if (button.control == LOWORD(wParam) && (!button.confirm || button.confirm(dialog))) {
            EndDialog(dialog, button.result);
            break;
        }
    }
    return TRUE;
}

INT_PTR showTextDialog(const TextDialog* dialog, const char* text)
{
    textDialog = dialog;
    textDialogText = text;
    return showDialog(dialog->templateId, textDialogProc);
}

static void onStateTimer(HWND window)
{
    if (pendingState == STATE_CLOSE) {
        if (flow->onClose)
            flow->onClose();
        DestroyWindow(window);
        return;
    }
    PostMessageW(window, WM_SETUP_STATE, (WPARAM)pendingState, 0);
}

static void runStep(HWND window, int state)
{
    for (int i = 0; i < flow->stateCount; i++)
        if (flow->states[i].state == state) {
            flow->states[i].step(window);
            return;
        }
}

static LRESULT CALLBACK setupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (isPaletteMessage(message))
        onPaletteMessage(window, message, wParam, lParam);
    switch (message) {
    case WM_CREATE:
        BackgroundWindow = window;
        // On a 256-colour screen the bitmaps need their palette, and the
        // blue band its tiles: in both modes.
        detectPaletteMode(window);
        if (flow->onCreate)
            flow->onCreate(window);
        SetTimer(window, TIMER_DECORATION, DECORATION_DELAY_MS, NULL);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(exitCode);
        return 1;
    case WM_PAINT:
        return paintBitmapSlots(window);
    case WM_ERASEBKGND:
        eraseBackground((HDC)wParam);
        return 1;
    case WM_TIMER:
        KillTimer(window, wParam);
        if (wParam == TIMER_STATE) {
            onStateTimer(window);
        } else if (wParam == TIMER_DECORATION) {
            if (placeDecorativeBitmap(decorationStep++))
                SetTimer(window, TIMER_DECORATION, DECORATION_DELAY_MS, NULL);
            else
                scheduleState(flow->firstState);
        }
        break;
    case WM_SETUP_STATE:
        runStep(window, (int)wParam);
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int runSetupWindow(HINSTANCE instance, HINSTANCE previous, const SetupFlow* setupFlow, HBRUSH background)
{
    windowInstance = instance;
    flow = setupFlow;
    if (!previous) {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = setupWindowProc;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(flow->iconId));
        windowClass.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
        windowClass.hbrBackground = background;
        windowClass.lpszClassName = flow->className;
        RegisterClassExW(&windowClass);
    }
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    HWND window = CreateWindowExW(0, flow->className, flow->title, WS_POPUP | WS_VISIBLE | flow->extraStyle,
                                  desktop.left, desktop.top, desktop.right - desktop.left,
                                  desktop.bottom - desktop.top, NULL, NULL, instance, NULL);
    if (!window)
        return EXIT_NO_WINDOW;   // no window, no flow: the message loop would never end
    MSG message = {};
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return (int)message.wParam;
}
