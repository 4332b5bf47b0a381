// Holds a file the way another Windows program keeps it to itself (share mode 0) until its
// standard input ends: "hold-file PATH". Prints "held" once the file is held.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    HANDLE h = ::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    std::puts("held");
    std::fflush(stdout);
    while (std::getchar() != EOF) {}
    ::CloseHandle(h);
    return 0;
}
