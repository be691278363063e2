// Program start on POSIX systems: arguments are bytes already, streams are binary, and every
// program has its standard streams.
#include "Process.h"

namespace pelfry {

ProgramArguments::ProgramArguments(int argc, char** argv) : args_(argv, argv + argc) {
    for (std::string& arg : args_)
        pointers_.push_back(arg.data());
    pointers_.push_back(nullptr);
}

void UseBinaryStandardStreams() {}

void UseParentConsole() {}

} // namespace pelfry
