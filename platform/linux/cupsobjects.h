#pragma once
// Owners for the CUPS objects the backend holds, so that no error path has
// to remember to free one.

#include <cups/cups.h>
#include <cups/raster.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vek::platform::linuxbackend {

struct DestDeleter {
    void operator()(cups_dest_t *dest) const { cupsFreeDests(1, dest); }
};
using DestPtr = std::unique_ptr<cups_dest_t, DestDeleter>;

struct DestInfoDeleter {
    void operator()(cups_dinfo_t *info) const { cupsFreeDestInfo(info); }
};
using DestInfoPtr = std::unique_ptr<cups_dinfo_t, DestInfoDeleter>;

struct HttpDeleter {
    void operator()(http_t *http) const { httpClose(http); }
};
using HttpPtr = std::unique_ptr<http_t, HttpDeleter>;

struct RasterDeleter {
    void operator()(cups_raster_t *raster) const { cupsRasterClose(raster); }
};
using RasterPtr = std::unique_ptr<cups_raster_t, RasterDeleter>;

// A cups_option_t array as the cupsAddOption family grows it.
class OptionArray {
public:
    OptionArray() = default;
    explicit OptionArray(const std::vector<std::pair<std::string, std::string>> &values)
    {
        for (const auto &[name, value] : values)
            add(name, value);
    }
    OptionArray(const OptionArray &) = delete;
    OptionArray &operator=(const OptionArray &) = delete;
    ~OptionArray() { cupsFreeOptions(m_count, m_options); }

    void add(const std::string &name, const std::string &value)
    {
        m_count = cupsAddOption(name.c_str(), value.c_str(), m_count, &m_options);
    }
    int count() const { return m_count; }
    cups_option_t *data() const { return m_options; }
    // Takes over an array that a CUPS call filled in.
    int *countSlot() { return &m_count; }
    cups_option_t **dataSlot() { return &m_options; }

private:
    int m_count = 0;
    cups_option_t *m_options = nullptr;
};

// A connection of its own to the scheduler that CUPS_SERVER or the client
// configuration names; empty when it cannot be reached.
inline HttpPtr ConnectToScheduler()
{
    return HttpPtr(httpConnect2(
        cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr));
}

}  // namespace vek::platform::linuxbackend
