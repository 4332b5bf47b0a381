// The Windows self-extractor: the main window (folder, overwrite choice, files), a
// progress window with Cancel, the overwrite question and the command question. With the
// switch -s it opens no window and writes its messages to the console it was started from.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "WideText.h"
#include "SfxStub.h"
#include "resource.h"

namespace {

// Zip names use "/", the user reads "\".
std::wstring ShownName(const std::string& name) {
    std::wstring w = Widen(name);
    for (wchar_t& c : w)
        if (c == L'/') c = L'\\';
    return w;
}

std::wstring WindowText(HWND h) {
    int n = GetWindowTextLengthW(h);
    std::wstring s(size_t(n) + 1, L'\0');
    GetWindowTextW(h, s.data(), n + 1);
    s.resize(size_t(n));
    return s;
}

// Long problem lists are cut so the message box still fits on the screen.
std::wstring Shorten(const std::string& text) {
    std::wstring w = Widen(text);
    size_t pos = 0;
    for (int line = 0; line < 25 && pos != std::wstring::npos; ++line) pos = w.find(L'\n', pos + 1);
    if (pos != std::wstring::npos) w = w.substr(0, pos) + L"\n...";
    return w;
}

// Moves every control lying below `fromY` (dialog units) up by `dy` and shrinks the window.
void CloseGap(HWND dlg, int fromY, int dy) {
    RECT r = {0, fromY, 0, dy};
    MapDialogRect(dlg, &r);
    const int from = r.top, shift = r.bottom;
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT c;
        GetWindowRect(child, &c);
        MapWindowPoints(HWND_DESKTOP, dlg, reinterpret_cast<POINT*>(&c), 2);
        if (c.top >= from) SetWindowPos(child, nullptr, c.left, c.top - shift, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    RECT w;
    GetWindowRect(dlg, &w);
    SetWindowPos(dlg, nullptr, 0, 0, w.right - w.left, w.bottom - w.top - shift, SWP_NOMOVE | SWP_NOZORDER);
}

class WindowsUI : public sfx::StubUI {
public:
    sfx::Answer AskOverwrite(const std::string& path) override {
        m_question = L"The file\n" + Widen(path) + L"\nalready exists. Do you want to replace it?";
        INT_PTR r = DialogBoxParamW(nullptr, MAKEINTRESOURCEW(IDD_OVERWRITE), m_progress, OverwriteProc,
                                    reinterpret_cast<LPARAM>(this));
        switch (r) {
            case IDYES: return sfx::Answer::Yes;
            case IDC_YESALL: return sfx::Answer::YesToAll;
            case IDNO: return sfx::Answer::No;
            case IDC_NOALL: return sfx::Answer::NoToAll;
            default: return sfx::Answer::Cancel;
        }
    }

    void Progress(size_t index, size_t count, const std::string& name) override {
        if (!m_progress) {
            m_progress = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, ProgressProc,
                                            reinterpret_cast<LPARAM>(this));
            SetWindowTextW(m_progress, m_caption.c_str());
            ShowWindow(m_progress, SW_SHOW);
        }
        SetDlgItemTextW(m_progress, IDC_STATUS, ShownName(name).c_str());
        SendDlgItemMessageW(m_progress, IDC_PROGRESS, PBM_SETRANGE32, 0, LPARAM(count));
        SendDlgItemMessageW(m_progress, IDC_PROGRESS, PBM_SETPOS, WPARAM(index), 0);
        Pump();
    }

    bool Cancelled() override {
        Pump();
        return m_cancelled;
    }

    void SetCaption(const std::string& caption) override { m_caption = Widen(caption); }

    bool Choose(const sfx::SfxArchive& archive, sfx::StubChoice& choice) override {
        m_archive = &archive;
        m_choice = &choice;
        return DialogBoxParamW(nullptr, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainProc,
                               reinterpret_cast<LPARAM>(this)) == IDOK;
    }

    bool AskCommand(const sfx::SfxArchive&, std::string& command) override {
        CloseProgress();
        m_command = Widen(command);
        if (DialogBoxParamW(nullptr, MAKEINTRESOURCEW(IDD_COMMAND), nullptr, CommandProc,
                            reinterpret_cast<LPARAM>(this)) != IDOK)
            return false;
        command = Narrow(m_command);
        return true;
    }

    void ShowError(const std::string& caption, const std::string& text) override {
        CloseProgress();
        MessageBoxW(nullptr, Shorten(text).c_str(), Widen(caption).c_str(), MB_OK | MB_ICONERROR);
    }

    void ShowReport(const std::string& caption, const std::string& text, bool problems) override {
        CloseProgress();
        MessageBoxW(nullptr, Shorten(text).c_str(), Widen(caption).c_str(),
                    MB_OK | (problems ? MB_ICONWARNING : MB_ICONINFORMATION));
    }

    ~WindowsUI() override { CloseProgress(); }

private:
    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!m_progress || !IsDialogMessageW(m_progress, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }

    void CloseProgress() {
        if (m_progress) DestroyWindow(m_progress);
        m_progress = nullptr;
    }

    static WindowsUI* Self(HWND dlg, UINT msg, LPARAM lp) {
        if (msg == WM_INITDIALOG) SetWindowLongPtrW(dlg, DWLP_USER, lp);
        return reinterpret_cast<WindowsUI*>(GetWindowLongPtrW(dlg, DWLP_USER));
    }

    static int CALLBACK BrowseCallback(HWND wnd, UINT msg, LPARAM, LPARAM data) {
        if (msg == BFFM_INITIALIZED) SendMessageW(wnd, BFFM_SETSELECTIONW, TRUE, data);
        return 0;
    }

    void Browse(HWND dlg) {
        std::wstring current = WindowText(GetDlgItem(dlg, IDC_FOLDER));
        BROWSEINFOW bi{};
        bi.hwndOwner = dlg;
        bi.lpszTitle = L"Choose the folder to extract the files to:";
        bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
        bi.lpfn = BrowseCallback;
        bi.lParam = reinterpret_cast<LPARAM>(current.c_str());
        PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&bi);
        if (!list) return;
        wchar_t path[MAX_PATH];
        if (SHGetPathFromIDListW(list, path)) SetDlgItemTextW(dlg, IDC_FOLDER, path);
        CoTaskMemFree(list);
    }

    static INT_PTR CALLBACK MainProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
        WindowsUI* self = Self(dlg, msg, lp);
        if (!self) return FALSE;
        const sfx::SfxArchive& archive = *self->m_archive;
        sfx::StubChoice& choice = *self->m_choice;
        switch (msg) {
            case WM_INITDIALOG: {
                SetWindowTextW(dlg, self->m_caption.c_str());
                SetDlgItemTextW(dlg, IDC_FOLDER, Widen(choice.folder).c_str());
                int radio = choice.overwrite == sfx::Overwrite::Always  ? IDC_OVR_ALWAYS
                            : choice.overwrite == sfx::Overwrite::Never ? IDC_OVR_NEVER
                                                                        : IDC_OVR_ASK;
                CheckRadioButton(dlg, IDC_OVR_ALWAYS, IDC_OVR_ASK, radio);
                HWND list = GetDlgItem(dlg, IDC_FILES);
                for (const sfx::ZipEntry& e : archive.entries)
                    SendMessageW(list, LB_ADDSTRING, 0, LPARAM(ShownName(e.name).c_str()));
                SendMessageW(list, LB_SETSEL, TRUE, -1);
                // Gaps are closed from the bottom up, so the first move does not shift the second.
                if (!(archive.header.flags & sfx::SfxAskFiles)) {
                    ShowWindow(GetDlgItem(dlg, IDC_FILES_LABEL), SW_HIDE);
                    ShowWindow(list, SW_HIDE);
                    CloseGap(dlg, 179, 89);
                }
                if (archive.header.flags & sfx::SfxHideOverwriteBox) {
                    for (int id : {IDC_OVERWRITE_GROUP, IDC_OVR_ALWAYS, IDC_OVR_NEVER, IDC_OVR_ASK})
                        ShowWindow(GetDlgItem(dlg, id), SW_HIDE);
                    CloseGap(dlg, 88, 52);
                }
                return TRUE;
            }
            case WM_COMMAND:
                switch (LOWORD(wp)) {
                    case IDC_BROWSE: self->Browse(dlg); return TRUE;
                    case IDOK: {
                        std::wstring folder = WindowText(GetDlgItem(dlg, IDC_FOLDER));
                        if (folder.empty()) {
                            MessageBoxW(dlg, L"Please enter the folder to extract the files to.",
                                        self->m_caption.c_str(), MB_OK | MB_ICONINFORMATION);
                            return TRUE;
                        }
                        choice.folder = Narrow(folder);
                        if (IsDlgButtonChecked(dlg, IDC_OVR_ALWAYS) == BST_CHECKED)
                            choice.overwrite = sfx::Overwrite::Always;
                        if (IsDlgButtonChecked(dlg, IDC_OVR_NEVER) == BST_CHECKED)
                            choice.overwrite = sfx::Overwrite::Never;
                        if (IsDlgButtonChecked(dlg, IDC_OVR_ASK) == BST_CHECKED) choice.overwrite = sfx::Overwrite::Ask;
                        HWND list = GetDlgItem(dlg, IDC_FILES);
                        for (size_t i = 0; i < choice.selected.size(); ++i)
                            choice.selected[i] = SendMessageW(list, LB_GETSEL, WPARAM(i), 0) > 0;
                        EndDialog(dlg, IDOK);
                        return TRUE;
                    }
                    case IDCANCEL: EndDialog(dlg, IDCANCEL); return TRUE;
                }
                break;
        }
        return FALSE;
    }

    static INT_PTR CALLBACK ProgressProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
        WindowsUI* self = Self(dlg, msg, lp);
        if (msg == WM_INITDIALOG) return TRUE;
        if (self && msg == WM_COMMAND && LOWORD(wp) == IDCANCEL) {
            self->m_cancelled = true;
            EnableWindow(GetDlgItem(dlg, IDCANCEL), FALSE);
            return TRUE;
        }
        return FALSE;
    }

    static INT_PTR CALLBACK OverwriteProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
        WindowsUI* self = Self(dlg, msg, lp);
        if (msg == WM_INITDIALOG) {
            SetWindowTextW(dlg, self->m_caption.c_str());
            SetDlgItemTextW(dlg, IDC_QUESTION, self->m_question.c_str());
            return TRUE;
        }
        if (msg == WM_COMMAND) {
            switch (LOWORD(wp)) {
                case IDYES:
                case IDNO:
                case IDC_YESALL:
                case IDC_NOALL:
                case IDCANCEL: EndDialog(dlg, LOWORD(wp)); return TRUE;
            }
        }
        return FALSE;
    }

    static INT_PTR CALLBACK CommandProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
        WindowsUI* self = Self(dlg, msg, lp);
        if (msg == WM_INITDIALOG) {
            SetWindowTextW(dlg, self->m_caption.c_str());
            SetDlgItemTextW(dlg, IDC_COMMAND, self->m_command.c_str());
            return TRUE;
        }
        if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
            if (LOWORD(wp) == IDOK) self->m_command = WindowText(GetDlgItem(dlg, IDC_COMMAND));
            EndDialog(dlg, LOWORD(wp));
            return TRUE;
        }
        return FALSE;
    }

    std::wstring m_caption = L"Self-Extracting Archive";
    const sfx::SfxArchive* m_archive = nullptr;
    sfx::StubChoice* m_choice = nullptr;
    HWND m_progress = nullptr;
    bool m_cancelled = false;
    std::wstring m_question, m_command;
};

// Silent mode: no windows; messages go to the console or file the caller gave us.
class SilentUI : public sfx::StubUI {
public:
    sfx::Answer AskOverwrite(const std::string&) override { return sfx::Answer::No; }
    void Progress(size_t, size_t, const std::string&) override {}
    bool Cancelled() override { return false; }
    bool Choose(const sfx::SfxArchive&, sfx::StubChoice&) override { return true; }
    bool AskCommand(const sfx::SfxArchive&, std::string&) override { return false; }
    void ShowError(const std::string&, const std::string& text) override { Write(STD_ERROR_HANDLE, text); }
    void ShowReport(const std::string&, const std::string& text, bool problems) override {
        Write(problems ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, text);
    }

private:
    static void Write(DWORD which, const std::string& text) {
        HANDLE h = GetStdHandle(which);
        if (h == nullptr || h == INVALID_HANDLE_VALUE) {
            if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
            h = GetStdHandle(which);
            if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
        }
        DWORD mode = 0, done = 0;
        if (GetConsoleMode(h, &mode)) {
            std::wstring w = Widen(text + "\r\n");
            WriteConsoleW(h, w.c_str(), DWORD(w.size()), &done, nullptr);
        } else {
            std::string line = text + "\r\n";
            WriteFile(h, line.data(), DWORD(line.size()), &done, nullptr);
        }
    }
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; argv && i < argc; ++i) args.push_back(Narrow(argv[i]));
    if (argv) LocalFree(argv);

    sfx::StubArgs parsed = sfx::ParseStubArgs(args, false);
    int rc;
    if (parsed.silent) {
        SilentUI ui;
        rc = sfx::RunStub(parsed, ui);
    } else {
        WindowsUI ui;
        rc = sfx::RunStub(parsed, ui);
    }
    CoUninitialize();
    return rc;
}
