// setupwindow.h - the one full-screen window both modes run in: its class,
// the background and its decoration, the message loop, the palette, and a
// flow of states, each a step that shows a dialog over the window and
// schedules the next state. The installer and the uninstaller are two tables
// of states over it.
//
// Window life:
//   create      background window, palette mode, the flow's onCreate
//   decoration  a 10 ms timer places the eight bitmaps, then -> firstState
//   a state     scheduleState(s): 50 ms later the state's step runs from a
//               posted message (so every dialog starts from an empty stack)
//   STATE_CLOSE the flow's onClose, the window is destroyed, the loop ends
#ifndef UI_SETUPWINDOW_H
#define UI_SETUPWINDOW_H

#include <windows.h>

enum { STATE_CLOSE = 1 };          // every flow's end; its other states are 2 and up

// The program's exit codes, as a caller of the setup or the uninstaller sees them.
enum {
    EXIT_DONE = 0,                 // installed, or removed
    EXIT_NO_WINDOW = 1,            // the setup window could not be made
    EXIT_CANCELLED = 2,            // the user cancelled; nothing was changed
    EXIT_DAMAGED = 3,              // truncated or damaged setup; nothing was written
    EXIT_FAILED = 4,               // install rolled back, or files left after removal
    EXIT_BUSY = 5,                 // another setup or uninstaller of the product runs; nothing was done
    EXIT_REFUSED = 6,              // an uninstaller with no installation of its own here; nothing was removed
    EXIT_INCOMPLETE = 7            // installed, but a shortcut or the uninstall entry could not be made
};

// The code the message loop ends with (EXIT_DONE unless set).
void setExitCode(int code);

typedef void (*StateStep)(HWND window);

struct FlowState {
    int state;
    StateStep step;                // shows its dialog, then calls scheduleState
};

struct SetupFlow {
    const wchar_t* className;      // also what other programs find the window by
    const wchar_t* title;
    int iconId;
    DWORD extraStyle;              // besides WS_POPUP | WS_VISIBLE
    const FlowState* states;
    int stateCount;
    int firstState;                // once the decoration is placed
    void (*onCreate)(HWND window); // or null
    void (*onClose)(void);         // just before the window goes, or null
};

// Registers the class (first instance only, with background as its brush),
// covers the desktop with the window and runs the messages until the flow
// closes it. Returns the code setExitCode gave, or EXIT_NO_WINDOW.
int runSetupWindow(HINSTANCE instance, HINSTANCE previous, const SetupFlow* flow, HBRUSH background);

// Stores the state; 50 ms later its step runs.
void scheduleState(int state);

// A modal dialog of the program's resources over the window. Returns what
// EndDialog gave, or -1 when it could not be made.
INT_PTR showDialog(int templateId, DLGPROC procedure);

// A dialog of one text and buttons, each ending it with a result; confirm
// (or null) may keep it open. Palette messages are passed on.
struct DialogButton {
    int control;
    INT_PTR result;
    bool (*confirm)(HWND dialog);  // false: the dialog stays
};
struct TextDialog {
    int templateId;
    int textControl;
    const DialogButton* buttons;
    int buttonCount;
};
// Shows the dialog with text in its text control. Returns the button's
// result, or -1 when it could not be made.
INT_PTR showTextDialog(const TextDialog* dialog, const char* text);

// The dialog's picture (control IDC_PICTURE, at PICTURE_LEFT, ... of
// resource.h) at the display's scale, at WM_INITDIALOG: smoothly scaled to
// fill its place as the dialog lays it out. At BASE_DPI (and in palette
// mode) it stays as the template loaded it. releaseDialogPicture, at
// WM_DESTROY, takes the scaled one back from its control and deletes it.
void scaleDialogPicture(HWND dialog);
void releaseDialogPicture(void);

// For dialog procedures over the background: passes the palette messages on.
// Returns 1 when message was one of them (the dialog then returns FALSE).
int forwardPaletteMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
