// The console a command-line program writes to: whether a line on standard error can be
// rewritten in place, and how wide it is.
#pragma once

namespace pelfry {

// True when standard error is a terminal (where "\r" and an erase-line sequence rewrite the
// last line) rather than a file or a pipe.
bool StandardErrorIsTerminal();

// Columns of the terminal on standard error; 0 when it is no terminal or its width is unknown.
int StandardErrorColumns();

} // namespace pelfry
