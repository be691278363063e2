#include "Console.h"

#include <windows.h>

namespace pelfry {

// A console answers GetConsoleMode; a file or a pipe does not. (A terminal emulator that talks
// to the program through a pipe, as some do, counts as a pipe: progress then goes line by line.)
bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int StandardErrorColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

} // namespace pelfry
