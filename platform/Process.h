// What a command-line program asks of the system as it starts: its arguments in UTF-8, the
// text of names and paths everywhere in this program, and standard streams that pass bytes
// through unchanged.
#pragma once

#include <string>
#include <vector>

namespace pelfry {

// The program's arguments as UTF-8, with argv-style pointers (Values()[Count()] is null). On
// Windows they are read from the system's UTF-16 command line: the arguments main() receives
// there are in the system's code page, which cannot spell every name.
class ProgramArguments {
public:
    ProgramArguments(int argc, char** argv);
    ProgramArguments(const ProgramArguments&) = delete;
    ProgramArguments& operator=(const ProgramArguments&) = delete;

    int Count() const { return static_cast<int>(args_.size()); }
    char** Values() { return pointers_.data(); }

private:
    std::vector<std::string> args_;
    std::vector<char*> pointers_;
};

// Makes standard input, output and error binary, so that bytes written are the bytes that
// arrive (Windows would otherwise put CR before every LF), and lets a console show UTF-8.
void UseBinaryStandardStreams();

// For a program without a console of its own (a Windows GUI program): lets what it writes to
// standard output and error reach the console it was started from, if any; streams already
// redirected to a file or a pipe stay as they are. Does nothing where every program has its
// standard streams (POSIX systems).
void UseParentConsole();

} // namespace pelfry
