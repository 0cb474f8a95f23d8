#include "platform/discwriters.h"

#include "platform/windows/comsupport.h"
#include "platform/windows/imapi2.h"

#include <algorithm>
#include <optional>

namespace vek::platform {

namespace {

using win::imapi2::IDiscFormat2Data;
using win::imapi2::IDiscMaster2;
using win::imapi2::IDiscRecorder2;

// Calls a getter with a BSTR out-parameter; a failing call reads as empty.
template <typename Getter> std::string ReadString(Getter &&get)
{
    BSTR raw = nullptr;
    if (FAILED(get(&raw)))
        return {};
    const win::Bstr text(raw);
    return text.utf8();
}

// The string elements of the recorder's volume list, in order.
std::vector<std::string> ReadVolumes(IDiscRecorder2 &recorder)
{
    SAFEARRAY *raw = nullptr;
    if (FAILED(recorder.get_VolumePathNames(&raw)) || raw == nullptr)
        return {};
    const win::SafeArray array(raw);
    VARTYPE type = VT_EMPTY;
    LONG lower = 0;
    LONG upper = -1;
    if (SafeArrayGetDim(raw) != 1 || FAILED(SafeArrayGetVartype(raw, &type)) || type != VT_VARIANT
        || FAILED(SafeArrayGetLBound(raw, 1, &lower)) || FAILED(SafeArrayGetUBound(raw, 1, &upper))
        || upper < lower)
        return {};
    const win::SafeArrayData data(raw);
    if (data.get() == nullptr)
        return {};
    const auto *items = static_cast<const VARIANT *>(data.get());
    std::vector<std::string> volumes;
    for (LONG i = 0; i <= upper - lower; ++i) {
        if (items[i].vt == VT_BSTR)
            volumes.push_back(win::Bstr::Utf8(items[i].bstrVal));
    }
    return volumes;
}

bool RecordsDataDiscs(IDiscRecorder2 &recorder)
{
    const auto format = win::CreateInProcess<IDiscFormat2Data>(
        win::imapi2::kClsidDiscFormat2Data, win::imapi2::kIidDiscFormat2Data);
    VARIANT_BOOL supported = VARIANT_FALSE;
    return format && SUCCEEDED(format->IsRecorderSupported(&recorder, &supported))
        && supported == VARIANT_TRUE;
}

std::optional<DiscWriter> ReadWriter(IDiscMaster2 &master, LONG index)
{
    BSTR rawId = nullptr;
    if (FAILED(master.get_Item(index, &rawId)))
        return std::nullopt;
    const win::Bstr id(rawId);
    DiscWriter writer;
    writer.uniqueId = id.utf8();
    if (writer.uniqueId.empty())
        return std::nullopt;

    const auto recorder = win::CreateInProcess<IDiscRecorder2>(
        win::imapi2::kClsidDiscRecorder2, win::imapi2::kIidDiscRecorder2);
    if (!recorder || FAILED(recorder->InitializeDiscRecorder(id.get()))
        || !RecordsDataDiscs(*recorder.get()))
        return std::nullopt;

    writer.vendorId = ReadString([&](BSTR *out) { return recorder->get_VendorId(out); });
    writer.productId = ReadString([&](BSTR *out) { return recorder->get_ProductId(out); });
    writer.volumes = ReadVolumes(*recorder.get());
    return writer;
}

}  // namespace

DiscWriterScan ListDiscWriters(std::size_t maxWriters)
{
    DiscWriterScan scan { "WINDOWS_IMAPI2", {} };
    // Declared first so that every object below is released before COM is left.
    const win::ComApartment apartment(COINIT_APARTMENTTHREADED);
    if (!apartment.usable())
        return scan;
    const auto master = win::CreateInProcess<IDiscMaster2>(
        win::imapi2::kClsidDiscMaster2, win::imapi2::kIidDiscMaster2);
    LONG count = 0;
    if (!master || FAILED(master->get_Count(&count)) || count < 1)
        return scan;
    const auto limit = std::min(static_cast<std::size_t>(count), maxWriters);
    for (std::size_t index = 0; index < limit; ++index) {
        if (auto writer = ReadWriter(*master.get(), static_cast<LONG>(index)))
            scan.writers.push_back(std::move(*writer));
    }
    return scan;
}

}  // namespace vek::platform
