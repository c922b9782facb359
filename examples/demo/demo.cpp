// demo.cpp - the example product that the demo setup installs: one window
// of class "TambDemoWindow", so a setup can find a running copy and close it.
#include <windows.h>

static LRESULT CALLBACK demoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        DrawTextA(dc, "Demo product\r\nInstalled by its setup program.", -1, &area, DT_CENTER | DT_VCENTER | DT_WORDBREAK);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = demoWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "TambDemoWindow";
    if (!RegisterClassA(&windowClass))
        return 1;
    HWND window = CreateWindowA("TambDemoWindow", "Demo", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                360, 200, NULL, NULL, instance, NULL);
    if (!window)
        return 1;
    ShowWindow(window, showState);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}
