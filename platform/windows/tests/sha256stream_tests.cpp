#include "platform/sha256stream.h"

#include <doctest.h>
#include <string>

namespace vek::platform {
namespace {

TEST_CASE("Sha256Stream gives the same digest in one piece or many")
{
    Sha256Stream stream;
    CHECK(stream.FinishHex() == "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    stream.Add("a", 1);
    stream.Add("bc", 2);
    CHECK(stream.FinishHex() == "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    stream.Add("abc", 3);
    CHECK(stream.FinishHex() == "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace vek::platform
