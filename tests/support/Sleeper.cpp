// Helper program of the tests: runs until it is terminated. Given a file, it
// holds that file open without sharing it, as another program might; given
// "--mutex NAME", it holds a mutex of that name, as any program of the user
// could take one.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv)
{
    HANDLE held = INVALID_HANDLE_VALUE;
    if (argc > 2 && strcmp(argv[1], "--mutex") == 0) {
        held = CreateMutexA(nullptr, TRUE, argv[2]);
        if (held == nullptr) {
            return 2;
        }
    } else if (argc > 1) {
        held = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            return 2;
        }
    }
    Sleep(120000);
    if (held != INVALID_HANDLE_VALUE && held != nullptr) {
        CloseHandle(held);
    }
    return 0;
}
