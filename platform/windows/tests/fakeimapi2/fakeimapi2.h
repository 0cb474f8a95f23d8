#pragma once
// A stand-in for the disc-recording service, which Wine does not have: an
// in-process COM server registering the same class identifiers. Its writers,
// by index:
//   0      "\\?\fake#writer#0": vendor "HL-DT-ST  ", product "  DVDRAM GH24 ",
//          volumes {"D:\", (integer 7), "E:\media\"}, records data discs
//   1      empty identifier
//   2      "fake-read-only": the data format does not support it
//   3      "fake-broken": the recorder cannot be initialised
//   4      "fake-silent": vendor, product and volume queries fail
//   5      the identifier query fails
//   6..    "fake-writer-<index>": vendor "V", product "P", no volumes
// How many writers the master reports is set with VekFakeImapi2SetCount.

namespace vek::platform::test {

inline constexpr const wchar_t *kFakeImapi2Dll = L"vek_fake_imapi2.dll";

using FakeImapi2SetCount = void(__cdecl *)(long count);
using FakeImapi2LiveObjects = long(__cdecl *)();

inline constexpr const char *kFakeImapi2SetCount = "VekFakeImapi2SetCount";
inline constexpr const char *kFakeImapi2LiveObjects = "VekFakeImapi2LiveObjects";

}  // namespace vek::platform::test
