// A process that installs the crash handler and then dies in the way its
// second argument names, for the crash tests:
//   vek_crashchild <crash folder> segv|abort|terminate|throw|overflow|install
#include "tests/platform/crashchild.h"
#include "platform/crashhandler.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace {

char *volatile g_secret = nullptr;
volatile int g_depth = 0;

int Recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    g_depth = depth;
    if (g_depth < 0)  // never: keeps the recursion from being a loop
        return frame[0];
    return Recurse(depth + 1) + frame[0];
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    g_secret = static_cast<char *>(std::malloc(sizeof kCrashChildSecret));
    std::memcpy(g_secret, kCrashChildSecret, sizeof kCrashChildSecret);

    vek::platform::CrashDumpConfig config;
    config.directory = argv[1];
    config.applicationName = "VekPrintAgent";
    config.version = "1.0.38";
    if (!vek::platform::InstallCrashHandler(config))
        return 4;

    const char *mode = argv[2];
    if (std::strcmp(mode, "segv") == 0) {
        // Not null, which the undefined-behaviour sanitizer would catch first.
        volatile int *volatile nowhere = reinterpret_cast<volatile int *>(0x10);
        *nowhere = 1;
    } else if (std::strcmp(mode, "abort") == 0) {
        std::abort();
    } else if (std::strcmp(mode, "terminate") == 0) {
        std::terminate();
    } else if (std::strcmp(mode, "throw") == 0) {
        throw std::runtime_error("nobody catches this");
    } else if (std::strcmp(mode, "overflow") == 0) {
        return Recurse(0);
    } else if (std::strcmp(mode, "install") == 0) {
        return 0;
    }
    return 5;
}
