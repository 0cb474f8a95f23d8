#!/usr/bin/env bash
# Installs what is needed, builds the agent and the Windows backend, and runs
# every test: unit tests, tests against the private CUPS daemon, and the
# Windows backend's tests under Wine.
#   tools/test.sh              the whole run
#   tools/test.sh -R node      only the tests whose name matches (ctest -R)
# Environment: BUILD_DIR (default build/), VEK_WERROR=ON to make warnings errors,
# VEK_SANITIZE=ON for the address and undefined-behaviour sanitizer build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=$(nproc)

"$root/tools/bootstrap.sh"

cmake_args=(-S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
            -DVEK_WERROR=${VEK_WERROR:-OFF} -DVEK_SANITIZE=${VEK_SANITIZE:-OFF})
if [ "${VEK_SANITIZE:-OFF}" = ON ]; then
    # The sanitizers instrument this project's code; the mingw build is not.
    cmake_args+=(-DVEK_WINDOWS_BACKEND=OFF)
fi
cmake "${cmake_args[@]}"
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@"
