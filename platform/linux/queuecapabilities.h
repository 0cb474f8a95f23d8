#pragma once
// What a CUPS queue offers for the driver settings block: its make and
// model, the options of the options sheet with their choices and defaults,
// the sizes of its media, and the conflicts between options. Read from the
// scheduler's capabilities of the queue and, where the queue has one, from
// its PPD.

#include "cupsobjects.h"
#include "platform/linux/driveroptions.h"
#include "settingsblock.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vek::platform::linuxbackend {

class QueuePpd;

// A media's sheet and margins in hundredths of a millimetre.
struct MediaSize {
    std::string name;
    int width = 0;
    int length = 0;
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

class QueueCapabilities {
public:
    // Nothing when the queue does not exist or cannot be asked.
    static std::unique_ptr<QueueCapabilities> Open(const std::string &queue);
    ~QueueCapabilities();
    QueueCapabilities(const QueueCapabilities &) = delete;
    QueueCapabilities &operator=(const QueueCapabilities &) = delete;

    const std::string &makeAndModel() const { return m_makeAndModel; }

    // The sheet's options, each with the queue's default as its value.
    const std::vector<cups::DriverOption> &options() const { return m_options; }
    const cups::DriverOption *option(const std::string &keyword) const;
    bool offers(const std::string &keyword, const std::string &value) const;

    // The option values the queue starts from: its defaults, with the
    // user's own saved defaults (lpoptions) where the queue offers them.
    cups::OptionValues defaults() const;

    std::optional<MediaSize> mediaSize(const std::string &media) const;
    // The block's media, or the queue's default media when it names none.
    std::optional<MediaSize> mediaSize(const SettingsBlock &block) const;

    // The sheet options that conflict when values are chosen together.
    std::vector<std::string> conflicts(const cups::OptionValues &values) const;

    // The block when it was made for this queue's make and model and the
    // queue still offers every option and value in it.
    std::optional<SettingsBlock> accept(const Bytes &settings) const;

    // The block of the queue's defaults with values chosen over them; empty
    // when the queue does not offer one of the values.
    Bytes makeBlock(const cups::OptionValues &values) const;

private:
    QueueCapabilities() = default;
    void readCommonOptions();
    void readDriverOptions();
    void addOption(cups::DriverOption option, const std::string &defaultValue);

    std::string m_queue;
    DestPtr m_dest;
    DestInfoPtr m_info;
    std::unique_ptr<QueuePpd> m_ppd;
    std::string m_makeAndModel;
    std::vector<cups::DriverOption> m_options;
};

}  // namespace vek::platform::linuxbackend
