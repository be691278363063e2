#include "Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace pelfry {

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

int StandardErrorColumns() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

} // namespace pelfry
