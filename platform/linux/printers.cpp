// The queues of the CUPS scheduler as the signed-in user sees them.

#include "platform/printers.h"

#include "printerstate.h"

#include <cups/cups.h>

namespace vek::platform {
namespace {

// Owns the array cupsGetDests2 returns.
class DestList {
public:
    DestList()
        : m_count(cupsGetDests2(CUPS_HTTP_DEFAULT, &m_dests))
    {
    }
    DestList(const DestList &) = delete;
    DestList &operator=(const DestList &) = delete;
    ~DestList() { cupsFreeDests(m_count, m_dests); }

    const cups_dest_t *begin() const { return m_dests; }
    const cups_dest_t *end() const { return m_dests ? m_dests + m_count : m_dests; }

private:
    cups_dest_t *m_dests = nullptr;
    int m_count = 0;
};

std::string Option(const cups_dest_t &dest, const char *name)
{
    const char *value = cupsGetOption(name, dest.num_options, dest.options);
    return value ? value : "";
}

}  // namespace

std::vector<PrinterInfo> EnumeratePrinters()
{
    std::vector<PrinterInfo> printers;
    const DestList dests;
    for (const cups_dest_t &dest : dests) {
        // An instance is the same queue with saved options, not another queue.
        if (dest.instance || !dest.name || !*dest.name)
            continue;
        printers.push_back({ dest.name, Option(dest, "printer-make-and-model"),
            Option(dest, "device-uri"), dest.is_default != 0,
            linuxbackend::StateReasonsNeedAttention(Option(dest, "printer-state-reasons")) });
    }
    return printers;
}

}  // namespace vek::platform
