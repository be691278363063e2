// Program start on Windows: the arguments from the UTF-16 command line, binary streams, the
// console of the parent for a GUI program.
#include "Process.h"

#include "WinSupport.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h> // after <windows.h>, which it needs

namespace pelfry {

ProgramArguments::ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide != nullptr && count == argc) {
        for (int i = 0; i < count; ++i)
            args_.push_back(win::Narrow(wide[i]));
    } else {
        args_.assign(argv, argv + argc); // the system's own split disagrees: keep what main got
    }
    if (wide != nullptr) ::LocalFree(wide);
    for (std::string& arg : args_)
        pointers_.push_back(arg.data());
    pointers_.push_back(nullptr);
}

void UseBinaryStandardStreams() {
    ::_setmode(::_fileno(stdin), _O_BINARY);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
}

// A GUI program starts with no standard handles unless they were redirected. Started from a
// console, it may borrow that console for the text of --help and errors; the console does not
// wait for it, so its prompt may already stand there.
void UseParentConsole() {
    const auto isOpen = [](DWORD stream) {
        const HANDLE handle = ::GetStdHandle(stream);
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    };
    const bool outOpen = isOpen(STD_OUTPUT_HANDLE);
    const bool errOpen = isOpen(STD_ERROR_HANDLE);
    if ((outOpen && errOpen) || !::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!outOpen) std::freopen("CONOUT$", "w", stdout);
    if (!errOpen) std::freopen("CONOUT$", "w", stderr);
}

} // namespace pelfry
