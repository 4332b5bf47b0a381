// tallomir-batch: runs the refresh and the copy run without windows.
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("tallomir-batch 2.0.7");
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("Usage: tallomir-batch [OPTIONS] WORKSPACE...");
            return 0;
        }
    }
    std::fputs("tallomir-batch: the copy run is not available yet\n", stderr);
    return 2;
}
