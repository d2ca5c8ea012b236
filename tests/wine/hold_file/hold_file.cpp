// hold-file PATH: opens PATH for reading the way Python's open() does (read
// and write sharing, no delete sharing), says "holding", keeps it open until
// a line or the end of standard input, then says "released". Windows only:
// the Wine tests hold the bridge's files with it.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hold-file PATH\n");
        return 2;
    }
    const HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    std::printf("holding\n");
    std::fflush(stdout);
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    }
    CloseHandle(file);
    std::printf("released\n");
    std::fflush(stdout);
    return 0;
}
