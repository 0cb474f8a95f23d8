#include "platform/discwriters.h"

#include "fakeimapi2/fakeimapi2.h"
#include "platform/windows/imapi2.h"

#include <doctest.h>
#include <optional>
#include <string>
#include <thread>
#include <windows.h>

#include <objbase.h>

namespace vek::platform {
namespace {

APTTYPE ApartmentType()
{
    APTTYPE type {};
    APTTYPEQUALIFIER qualifier {};
    if (FAILED(CoGetApartmentType(&type, &qualifier)))
        return APTTYPE_CURRENT;  // not in any apartment
    return type;
}

struct ThreadComState {
    HRESULT joined = S_OK;  // the thread's own CoInitializeEx, if any
    APTTYPE duringScan = APTTYPE_CURRENT;  // right after ListDiscWriters
    HRESULT fresh = E_FAIL;  // CoInitializeEx once the thread left COM itself
    std::size_t writers = 0;
};

// Scans on a fresh thread that first joins COM as given (or not at all).
// Checks stay on the test's thread.
ThreadComState ScanOnNewThread(std::optional<DWORD> model)
{
    ThreadComState state;
    std::thread thread([&] {
        if (model)
            state.joined = CoInitializeEx(nullptr, *model);
        state.writers = ListDiscWriters(32).writers.size();
        state.duringScan = ApartmentType();
        if (model && SUCCEEDED(state.joined))
            CoUninitialize();
        state.fresh = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(state.fresh))
            CoUninitialize();
    });
    thread.join();
    return state;
}

TEST_CASE("Without the disc-recording service no writers are listed")
{
    for (const std::size_t maxWriters : { std::size_t { 0 }, std::size_t { 32 } }) {
        CAPTURE(maxWriters);
        const DiscWriterScan scan = ListDiscWriters(maxWriters);
        CHECK(scan.adapter == "WINDOWS_IMAPI2");
        CHECK(scan.writers.empty());
    }
}

TEST_CASE("ListDiscWriters leaves COM on the calling thread as it found it")
{
    struct Case {
        const char *what;
        std::optional<DWORD> model;
        APTTYPE apartment;
    };
    const Case cases[] = {
        { "no COM", std::nullopt, APTTYPE_CURRENT },
        { "multi-threaded apartment", COINIT_MULTITHREADED, APTTYPE_MTA },
        { "single-threaded apartment", COINIT_APARTMENTTHREADED, APTTYPE_MAINSTA },
    };
    for (const Case &c : cases) {
        CAPTURE(std::string(c.what));
        const ThreadComState state = ScanOnNewThread(c.model);
        REQUIRE(state.joined == S_OK);
        if (c.apartment == APTTYPE_MAINSTA)
            CHECK((state.duringScan == APTTYPE_STA || state.duringScan == APTTYPE_MAINSTA));
        else
            CHECK(state.duringScan == c.apartment);
        CHECK(state.fresh == S_OK);  // no initialisation was left behind
    }
}

// Registers the stand-in disc-recording service while in scope and keeps its
// DLL loaded, so the test can steer it. Wine's COM does not read per-user
// class registrations, so this writes to the classes root.
class FakeDiscService {
public:
    FakeDiscService()
    {
        wchar_t path[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll(path, length);
        dll = dll.substr(0, dll.find_last_of(L'\\') + 1) + test::kFakeImapi2Dll;
        module_ = LoadLibraryW(dll.c_str());
        if (module_ == nullptr)
            return;
        setCount_ = reinterpret_cast<test::FakeImapi2SetCount>(
            reinterpret_cast<void *>(GetProcAddress(module_, test::kFakeImapi2SetCount)));
        liveObjects_ = reinterpret_cast<test::FakeImapi2LiveObjects>(
            reinterpret_cast<void *>(GetProcAddress(module_, test::kFakeImapi2LiveObjects)));
        registered_ = Register(win::imapi2::kClsidDiscMaster2, dll)
            && Register(win::imapi2::kClsidDiscRecorder2, dll)
            && Register(win::imapi2::kClsidDiscFormat2Data, dll);
    }
    ~FakeDiscService()
    {
        for (const CLSID *id : { &win::imapi2::kClsidDiscMaster2, &win::imapi2::kClsidDiscRecorder2,
                 &win::imapi2::kClsidDiscFormat2Data })
            RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(*id).c_str());
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    FakeDiscService(const FakeDiscService &) = delete;
    FakeDiscService &operator=(const FakeDiscService &) = delete;

    bool ready() const { return registered_ && setCount_ != nullptr && liveObjects_ != nullptr; }
    void setCount(long count) const { setCount_(count); }
    long liveObjects() const { return liveObjects_(); }

private:
    static std::wstring ClassKey(const CLSID &id)
    {
        wchar_t text[40];
        StringFromGUID2(id, text, 40);
        return std::wstring(L"CLSID\\") + text;
    }

    static bool SetString(HKEY key, const wchar_t *name, const std::wstring &value)
    {
        return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)))
            == ERROR_SUCCESS;
    }

    static bool Register(const CLSID &id, const std::wstring &dll)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (ClassKey(id) + L"\\InprocServer32").c_str(), 0,
                nullptr, 0, KEY_WRITE, nullptr, &key, nullptr)
            != ERROR_SUCCESS)
            return false;
        const bool written
            = SetString(key, nullptr, dll) && SetString(key, L"ThreadingModel", L"Both");
        RegCloseKey(key);
        return written;
    }

    HMODULE module_ = nullptr;
    test::FakeImapi2SetCount setCount_ = nullptr;
    test::FakeImapi2LiveObjects liveObjects_ = nullptr;
    bool registered_ = false;
};

TEST_CASE(
    "ListDiscWriters reports the writers that record data discs, as the service describes them")
{
    const FakeDiscService service;
    REQUIRE(service.ready());
    service.setCount(6);

    const DiscWriterScan scan = ListDiscWriters(32);
    CHECK(scan.adapter == "WINDOWS_IMAPI2");
    // Left out: an empty identifier, a read-only drive, a recorder that cannot
    // be initialised and an identifier that cannot be read.
    REQUIRE(scan.writers.size() == 2);
    const DiscWriter &first = scan.writers[0];
    CHECK(first.uniqueId == "\\\\?\\fake#writer#0");
    CHECK(first.vendorId == "HL-DT-ST  ");  // padding is left to the caller
    CHECK(first.productId == "  DVDRAM GH24 ");
    CHECK(first.volumes == std::vector<std::string> { "D:\\", "E:\\media\\" });
    const DiscWriter &silent = scan.writers[1];
    CHECK(silent.uniqueId == "fake-silent");
    CHECK(silent.vendorId.empty());
    CHECK(silent.productId.empty());
    CHECK(silent.volumes.empty());

    CHECK(service.liveObjects() == 0);  // every object was released

    for (const DWORD model : { COINIT_MULTITHREADED, COINIT_APARTMENTTHREADED }) {
        CAPTURE(model);
        const ThreadComState state = ScanOnNewThread(model);
        CHECK(state.writers == 2);  // works in whichever apartment the thread is in
        CHECK(state.fresh == S_OK);
    }
    CHECK(service.liveObjects() == 0);
}

TEST_CASE("ListDiscWriters examines no more than the first maxWriters indexes")
{
    const FakeDiscService service;
    REQUIRE(service.ready());
    struct Case {
        long count;
        std::size_t maxWriters;
        std::size_t writers;
        std::string last;
    };
    const Case cases[] = {
        { 40, 32, 28, "fake-writer-31" },  // indexes 0, 4 and 6..31
        { 40, 7, 3, "fake-writer-6" },
        { 40, 1, 1, "\\\\?\\fake#writer#0" },
        { 40, 0, 0, "" },
        { 0, 32, 0, "" },
    };
    for (const Case &c : cases) {
        CAPTURE(c.count);
        CAPTURE(c.maxWriters);
        service.setCount(c.count);
        const DiscWriterScan scan = ListDiscWriters(c.maxWriters);
        REQUIRE(scan.writers.size() == c.writers);
        if (!scan.writers.empty())
            CHECK(scan.writers.back().uniqueId == c.last);
        CHECK(service.liveObjects() == 0);
    }
}

}  // namespace
}  // namespace vek::platform
