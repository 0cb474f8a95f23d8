#include "systemroot.h"

#include <mutex>

namespace vek::platform::linuxbackend {
namespace {
std::mutex rootMutex;
std::string &Root()
{
    static std::string root;
    return root;
}
}  // namespace

std::string SystemPath(std::string_view absolute)
{
    std::lock_guard lock(rootMutex);
    return Root() + std::string(absolute);
}

void SetSystemRootForTesting(std::string root)
{
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    std::lock_guard lock(rootMutex);
    Root() = std::move(root);
}

}  // namespace vek::platform::linuxbackend
