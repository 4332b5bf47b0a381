/* A stand-in for the user in the Wine tests: for each argument TITLE:ID, waits for a
 * visible top-level window whose title holds TITLE and that has a control ID, clicks that
 * control, and waits for the window to close before the next step. Exit 0 when every step
 * was done, 1 when one timed out. */
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

struct Search {
    const wchar_t* title;
    int id;
    HWND found;
};

static BOOL CALLBACK Visit(HWND wnd, LPARAM lp) {
    struct Search* s = (struct Search*)lp;
    wchar_t text[256];
    if (!IsWindowVisible(wnd) || !GetWindowTextW(wnd, text, 256) || !wcsstr(text, s->title)) return TRUE;
    if (!GetDlgItem(wnd, s->id)) return TRUE;
    s->found = wnd;
    return FALSE;
}

int WINAPI wWinMain(HINSTANCE a, HINSTANCE b, PWSTR c, int d) {
    (void)a, (void)b, (void)c, (void)d;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; i < argc; ++i) {
        wchar_t* colon = wcsrchr(argv[i], L':');
        if (!colon) return 2;
        *colon = 0;
        struct Search s = {argv[i], _wtoi(colon + 1), NULL};
        for (int t = 0; t < 300 && !s.found; ++t) {
            EnumWindows(Visit, (LPARAM)&s);
            if (!s.found) Sleep(100);
        }
        if (!s.found) return 1;
        Sleep(300); /* let the window finish its start */
        PostMessageW(s.found, WM_COMMAND, MAKEWPARAM(s.id, BN_CLICKED), (LPARAM)GetDlgItem(s.found, s.id));
        for (int t = 0; t < 300 && IsWindow(s.found) && IsWindowVisible(s.found); ++t) Sleep(100);
    }
    return 0;
}
