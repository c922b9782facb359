// setupwindow.cpp - the setup window of both modes and its flow of states.
#include "ui/setupwindow.h"

#include "app/wintext.h"
#include "resources/resource.h"
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

// The picture scaled for the dialog being shown (dialogs over the window
// are modal, one at a time): its control and the bitmap made for it.
static HWND scaledPictureControl;
static HBITMAP scaledPicture;

// A copy of picture at width x height, smoothly scaled; null when it cannot
// be made.
static HBITMAP scaleBitmap(HBITMAP picture, int width, int height)
{
    BITMAP size;
    if (width <= 0 || height <= 0 || !GetObjectW(picture, sizeof size, &size))
        return NULL;
    HDC screen = GetDC(NULL);
    HDC from = CreateCompatibleDC(screen), to = CreateCompatibleDC(screen);
    HBITMAP scaled = CreateCompatibleBitmap(screen, width, height);
    BOOL drawn = FALSE;
    if (from && to && scaled) {
        HGDIOBJ fromBefore = SelectObject(from, picture), toBefore = SelectObject(to, scaled);
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, NULL);   // as HALFTONE asks
        drawn = StretchBlt(to, 0, 0, width, height, from, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
        SelectObject(from, fromBefore);
        SelectObject(to, toBefore);
    }
    if (from)
        DeleteDC(from);
    if (to)
        DeleteDC(to);
    ReleaseDC(NULL, screen);
    if (!drawn && scaled) {
        DeleteObject(scaled);
        scaled = NULL;
    }
    return scaled;
}

void scaleDialogPicture(HWND dialog)
{
    if (displayDpi == BASE_DPI)
        return;
    HWND control = GetDlgItem(dialog, IDC_PICTURE);
    HBITMAP loaded = control ? (HBITMAP)SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0) : NULL;
    if (!loaded)
        return;
    // The picture's place as the dialog lays it out at this display (its
    // font grows with the DPI, not always by DPI/96 each way): the picture
    // fills it, so it neither leaves a gap nor reaches into the text or the
    // line under it. The control sized itself to the bitmap as it was loaded.
    RECT place = {PICTURE_LEFT, PICTURE_TOP, PICTURE_LEFT + PICTURE_WIDTH, PICTURE_TOP + PICTURE_HEIGHT};
    MapDialogRect(dialog, &place);
    UINT keep = SWP_NOZORDER | SWP_NOACTIVATE;
    SetWindowPos(control, NULL, place.left, place.top, place.right - place.left, place.bottom - place.top, keep);
    RECT client;
    GetClientRect(control, &client);
    HBITMAP scaled = scaleBitmap(loaded, client.right, client.bottom);
    if (!scaled)
        return;   // the picture stays as it was loaded
    // The control gives back the bitmap it loaded, which is now ours.
    HBITMAP previous = (HBITMAP)SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)scaled);
    if (previous != scaled)
        DeleteObject(previous);   // none: nothing happens
    SetWindowPos(control, NULL, place.left, place.top, place.right - place.left, place.bottom - place.top, keep);
    scaledPictureControl = control;
    scaledPicture = scaled;
}

void releaseDialogPicture(void)
{
    if (!scaledPicture)
        return;
    SendMessageW(scaledPictureControl, STM_SETIMAGE, IMAGE_BITMAP, 0);
    DeleteObject(scaledPicture);
    scaledPictureControl = NULL;
    scaledPicture = NULL;
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
        scaleDialogPicture(dialog);
        return TRUE;
    }
    if (message == WM_DESTROY) {
        releaseDialogPicture();
        return FALSE;
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
        detectDisplayScale(window);
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
