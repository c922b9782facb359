// background.h - the full-screen background of both setup modes: white, blue
// and white bands, and eight decorative bitmaps from the program's own package,
// placed one per timer step and repainted from memory. On displays with at
// most 8 bits per pixel (palette mode) the bitmaps share one realized palette.
#ifndef UI_BACKGROUND_H
#define UI_BACKGROUND_H

#include <windows.h>

enum {
    PALETTE_TEMPLATE_OFFSET = 100,
    BASE_DPI = 96                // the layout's numbers are pixels at this DPI
};

// How a slot's bitmap repeats from its position.
enum TileMode {
    TILE_ONCE = 0,           // one copy at (x, y)
    TILE_ROW = 1,            // leftwards until a copy is drawn at x <= 0
    TILE_ROWS_UP = 2         // rows as TILE_ROW, each one bitmap higher, the last at y = 97
};

extern HWND BackgroundWindow;    // set by the window procedure that owns the window
extern int paletteOffset;        // 100 in palette mode, else 0; added to dialog template ids
extern int displayDpi;           // the display's DPI the layout is drawn at; BASE_DPI in palette mode

// paletteOffset from the window's device (planes x bits per pixel <= 8).
void detectPaletteMode(HWND window);
// displayDpi from the window's device, after detectPaletteMode: a
// palette display keeps the pictures as they are (a smooth scaling would
// make colours its palette lacks).
void detectDisplayScale(HWND window);
// A length of the layout (pixels at BASE_DPI) at displayDpi, rounded.
int scaleToDisplay(int length);

// WM_ACTIVATE and the palette messages: in palette mode, repaint the background
// when its palette may have been disturbed. window is not used.
void onPaletteMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// WM_ERASEBKGND: the three bands over the whole client area, at displayDpi.
void eraseBackground(HDC dc);
// WM_PAINT: every used slot, in slot order; at a displayDpi other than
// BASE_DPI each copy smoothly scaled. Returns 1.
int paintBitmapSlots(HWND window);
// Placement step 0..7, one per name of decorativeBitmapNames: step 0 opens
// the program's package, each step loads one bitmap into its slot and
// invalidates its area, the last step closes the package. A bitmap that
// cannot be loaded just does not appear. Returns true while another step
// follows.
bool placeDecorativeBitmap(int step);

#endif
