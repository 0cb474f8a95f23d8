// A process that installs the crash handler and then dies in the way its
// second argument names, for the crash tests:
//   vek_crashchild.exe <crash folder> access-violation|terminate|throw|
//                      runtime-failure|invalid-parameter|install
#include "platform/crashhandler.h"
#include "platform/windows/crashdump.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    vek::platform::CrashDumpConfig config;
    config.directory = argv[1];
    config.applicationName = "VekPrintAgent";
    config.version = "1.0.38";
    if (!vek::platform::InstallCrashHandler(config))
        return 4;

    const char *mode = argv[2];
    if (std::strcmp(mode, "access-violation") == 0) {
        volatile int *volatile nowhere = nullptr;
        *nowhere = 1;
    } else if (std::strcmp(mode, "terminate") == 0) {
        std::terminate();
    } else if (std::strcmp(mode, "throw") == 0) {
        throw std::runtime_error("nobody catches this");
    } else if (std::strcmp(mode, "runtime-failure") == 0) {
        // What the pure-call handler runs; the runtime raises neither that
        // nor an invalid parameter under every system.
        vek::platform::win::EndAfterRuntimeFailure();
    } else if (std::strcmp(mode, "invalid-parameter") == 0) {
        // The installed handler itself, which shows it is in place.
        const _invalid_parameter_handler handler = _get_invalid_parameter_handler();
        if (handler == nullptr)
            return 6;
        handler(L"expression", L"function", L"file", 1, 0);
    } else if (std::strcmp(mode, "install") == 0) {
        return 0;
    }
    return 5;
}
