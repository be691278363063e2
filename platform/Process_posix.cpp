// Program start on POSIX systems: arguments are bytes already, and streams are binary.
#include "Process.h"

namespace pelfry {

ProgramArguments::ProgramArguments(int argc, char** argv) : args_(argv, argv + argc) {
    for (std::string& arg : args_)
        pointers_.push_back(arg.data());
    pointers_.push_back(nullptr);
}

void UseBinaryStandardStreams() {}

} // namespace pelfry
