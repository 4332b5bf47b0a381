// The CD start program. "AUTORUN.INF" starts it from the root of the disc; it looks for the
// MapInfo workspaces (*.WOR) beside itself and opens one with the program Windows
// associates with workspaces (MapInfo Professional or its viewer). Several workspaces:
// the user chooses from a list. None, or no associated program: it says so.
//   Startup.exe /list   writes the workspaces it would offer, one per line, and opens nothing
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resource.h"

namespace {

constexpr wchar_t kTitle[] = L"MapInfo Workspace";

std::wstring OwnFolder() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
        if (n == 0) return L".\\";
        if (n < buf.size()) {
            buf.resize(n);
            break;
        }
        buf.resize(buf.size() * 2);
    }
    return buf.substr(0, buf.find_last_of(L"\\/") + 1);
}

bool HasWorkspaceExtension(const std::wstring& name) {
    // "*.WOR" also matches longer extensions through short names; keep exactly ".WOR".
    size_t dot = name.rfind(L'.');
    return dot != std::wstring::npos && CompareStringOrdinal(name.c_str() + dot, -1, L".WOR", -1, TRUE) == CSTR_EQUAL;
}

std::vector<std::wstring> FindWorkspaces(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"*.WOR").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && HasWorkspaceExtension(fd.cFileName))
            names.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    return names;
}

void WriteLine(const std::wstring& text) {
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
        h = GetStdHandle(STD_OUTPUT_HANDLE);
    }
    std::wstring line = text + L"\r\n";
    DWORD done = 0, mode = 0;
    if (GetConsoleMode(h, &mode)) {
        WriteConsoleW(h, line.c_str(), DWORD(line.size()), &done, nullptr);
        return;
    }
    int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), bytes.data(), n, nullptr, nullptr);
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr);
}

std::wstring ErrorText(DWORD code) {
    wchar_t* buf = nullptr;
    DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring text = n && buf ? std::wstring(buf, n) : L"error " + std::to_wstring(code);
    if (buf) LocalFree(buf);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    return text;
}

// Opens the workspace the way Explorer would; without an associated program, says so.
int OpenWorkspace(const std::wstring& folder, const std::wstring& name) {
    const std::wstring path = folder + name;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpFile = path.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) return 0;
    const DWORD error = GetLastError();
    if (error == ERROR_NO_ASSOCIATION || reinterpret_cast<INT_PTR>(info.hInstApp) == SE_ERR_NOASSOC) {
        std::wstring text = L"No program on this computer is set up to open MapInfo workspaces (.WOR files), so\n" +
                            path +
                            L"\ncannot be opened.\n\nPlease install MapInfo Professional or its viewer, then open the "
                            L"workspace from this disc.";
        MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONWARNING);
    } else {
        std::wstring text = L"Cannot open\n" + path + L"\n\n" + ErrorText(error);
        MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONERROR);
    }
    return 2;
}

struct ChooseState {
    const std::vector<std::wstring>* names;
    int chosen = -1;
};

INT_PTR CALLBACK ChooseProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) SetWindowLongPtrW(dlg, DWLP_USER, lp);
    auto* state = reinterpret_cast<ChooseState*>(GetWindowLongPtrW(dlg, DWLP_USER));
    if (!state) return FALSE;
    HWND list = GetDlgItem(dlg, IDC_WORKSPACES);
    switch (msg) {
        case WM_INITDIALOG:
            for (const std::wstring& n : *state->names) SendMessageW(list, LB_ADDSTRING, 0, LPARAM(n.c_str()));
            SendMessageW(list, LB_SETCURSEL, 0, 0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK || (LOWORD(wp) == IDC_WORKSPACES && HIWORD(wp) == LBN_DBLCLK)) {
                LRESULT sel = SendMessageW(list, LB_GETCURSEL, 0, 0);
                if (sel == LB_ERR) return TRUE;
                // The list is unsorted, so its positions are those of the names.
                state->chosen = int(sel);
                EndDialog(dlg, IDOK);
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                EndDialog(dlg, IDCANCEL);
                return TRUE;
            }
            break;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    bool listOnly = false;
    for (int i = 1; argv && i < argc; ++i)
        if (CompareStringOrdinal(argv[i], -1, L"/list", -1, TRUE) == CSTR_EQUAL ||
            CompareStringOrdinal(argv[i], -1, L"-list", -1, TRUE) == CSTR_EQUAL)
            listOnly = true;
    if (argv) LocalFree(argv);

    const std::wstring folder = OwnFolder();
    const std::vector<std::wstring> names = FindWorkspaces(folder);
    if (listOnly) {
        for (const std::wstring& n : names) WriteLine(folder + n);
        return names.empty() ? 1 : 0;
    }
    if (names.empty()) {
        std::wstring text = L"No MapInfo workspace (*.WOR) was found in\n" + folder;
        MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONINFORMATION);
        return 1;
    }
    if (names.size() == 1) return OpenWorkspace(folder, names[0]);

    ChooseState state{&names};
    if (DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_CHOOSE), nullptr, ChooseProc,
                        reinterpret_cast<LPARAM>(&state)) != IDOK ||
        state.chosen < 0)
        return 3;
    return OpenWorkspace(folder, names[size_t(state.chosen)]);
}
