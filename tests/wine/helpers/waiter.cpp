// Keeps a Wine prefix busy: Wine ends the prefix's services once no ordinary program is
// left, so each scenario runs this until the test kills the prefix.
#include <windows.h>

int main() {
    Sleep(INFINITE);
    return 0;
}
