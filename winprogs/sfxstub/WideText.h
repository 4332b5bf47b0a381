#pragma once
// Text conversions of the Windows build: the program keeps UTF-8 inside and speaks UTF-16
// to Windows.
#include <windows.h>

#include <string>

inline std::wstring Widen(const std::string& s, UINT codePage = CP_UTF8) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(codePage, 0, s.data(), int(s.size()), w.data(), n);
    return w;
}

inline std::string Narrow(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}
