// Helper program of the process-check tests: runs until it is terminated.
#include <windows.h>

int main()
{
    Sleep(120000);
    return 0;
}
