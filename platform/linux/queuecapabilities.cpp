#include "queuecapabilities.h"

#include "platform/printjobtext.h"
#include "queueppd.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace vek::platform::linuxbackend {
namespace {

using cups::DriverOption;
using cups::OptionValues;

// The common options, in the sheet's order, with the PPD option that the
// scheduler derives each one from on a queue with a PPD.
struct CommonOption {
    const char *keyword;
    const char *label;
    const char *ppdKeyword;
};
constexpr CommonOption kCommonOptions[] = {
    { "media", "Paper size", "PageSize" },
    { "media-source", "Paper source", "InputSlot" },
    { "media-type", "Paper type", "MediaType" },
    { "print-quality", "Print quality", "cupsPrintQuality" },
    { "sides", "Two-sided", "Duplex" },
    { "print-color-mode", "Colour", "ColorModel" },
};
constexpr const char *kResolution = "Resolution";

// PPD options that the common options already cover, or that a job sets
// itself rather than a profile.
bool IsCoveredPpdOption(const std::string &keyword)
{
    static const char *const covered[] = { "PageSize", "PageRegion", "InputSlot", "MediaType",
        "cupsPrintQuality", "Duplex", "ColorModel", "Collate", "copies", "number-up",
        "orientation-requested", "page-ranges", "fit-to-page", "scaling", "print-scaling" };
    return std::any_of(
        std::begin(covered), std::end(covered), [&](const char *name) { return keyword == name; });
}

std::string SheetKeywordOfPpdOption(const std::string &ppdKeyword)
{
    if (ppdKeyword == "PageRegion")
        return "media";
    for (const CommonOption &common : kCommonOptions) {
        if (ppdKeyword == common.ppdKeyword)
            return common.keyword;
    }
    return ppdKeyword;
}

std::string QualityLabel(int quality)
{
    switch (quality) {
    case IPP_QUALITY_DRAFT:
        return "Draft";
    case IPP_QUALITY_NORMAL:
        return "Normal";
    case IPP_QUALITY_HIGH:
        return "High";
    default:
        return std::to_string(quality);
    }
}

// An attribute's value as option text: keywords as they are, enums as numbers.
std::string ValueText(ipp_attribute_t *attribute, int index)
{
    switch (ippGetValueTag(attribute)) {
    case IPP_TAG_ENUM:
    case IPP_TAG_INTEGER:
        return std::to_string(ippGetInteger(attribute, index));
    case IPP_TAG_KEYWORD:
    case IPP_TAG_NAME:
    case IPP_TAG_TEXT:
    case IPP_TAG_NAMELANG:
    case IPP_TAG_TEXTLANG: {
        const char *text = ippGetString(attribute, index, nullptr);
        return text ? text : "";
    }
    default:
        return {};
    }
}

}  // namespace

std::unique_ptr<QueueCapabilities> QueueCapabilities::Open(const std::string &queue)
{
    if (queue.empty() || IsUnusableQueueName(queue))
        return nullptr;
    std::unique_ptr<QueueCapabilities> caps(new QueueCapabilities);
    caps->m_queue = queue;
    caps->m_dest.reset(cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.c_str(), nullptr));
    if (!caps->m_dest)
        return nullptr;
    caps->m_info.reset(cupsCopyDestInfo(CUPS_HTTP_DEFAULT, caps->m_dest.get()));
    if (!caps->m_info)
        return nullptr;
    const char *model
        = cupsGetOption("printer-make-and-model", caps->m_dest->num_options, caps->m_dest->options);
    caps->m_makeAndModel = model && IsBlockText(model) ? model : "";
    caps->m_ppd = QueuePpd::Open(queue);
    caps->readCommonOptions();
    caps->readDriverOptions();
    return caps;
}

QueueCapabilities::~QueueCapabilities() = default;

void QueueCapabilities::addOption(DriverOption option, const std::string &defaultValue)
{
    // A single choice is no choice, except the paper, whose size the profile records.
    if (option.choices.empty() || (option.choices.size() < 2 && option.keyword != "media"))
        return;
    const bool known = std::any_of(option.choices.begin(), option.choices.end(),
        [&](const cups::OptionChoice &choice) { return choice.value == defaultValue; });
    option.value = known ? defaultValue : option.choices.front().value;
    m_options.push_back(std::move(option));
}

void QueueCapabilities::readCommonOptions()
{
    http_t *http = CUPS_HTTP_DEFAULT;
    cups_dest_t *dest = m_dest.get();
    cups_dinfo_t *info = m_info.get();
    const PpdOption *ppdResolution = nullptr;
    if (m_ppd) {
        for (const PpdOption &option : m_ppd->options()) {
            if (option.keyword == kResolution)
                ppdResolution = &option;
        }
    }

    for (const CommonOption &common : kCommonOptions) {
        const std::string keyword = common.keyword;
        // A PPD's resolutions say more than the qualities derived from them.
        if (keyword == "print-quality" && ppdResolution) {
            DriverOption resolution { kResolution, ppdResolution->text, false, {}, {} };
            for (const PpdChoice &choice : ppdResolution->choices)
                resolution.choices.push_back({ choice.keyword, choice.text });
            addOption(std::move(resolution), ppdResolution->defaultChoice);
            continue;
        }
        ipp_attribute_t *supported = cupsFindDestSupported(http, dest, info, common.keyword);
        if (!supported)
            continue;
        DriverOption option { keyword, common.label, false, {}, {} };
        for (int i = 0; i < ippGetCount(supported); ++i) {
            const std::string value = ValueText(supported, i);
            // Ranges of custom sizes are limits, not sizes.
            if (value.empty() || !IsBlockText(value) || value.rfind("custom_min_", 0) == 0
                || value.rfind("custom_max_", 0) == 0)
                continue;
            std::string label;
            if (keyword == "media") {
                cups_size_t size {};
                if (cupsGetDestMediaByName(
                        http, dest, info, value.c_str(), CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
                    const char *text
                        = cupsLocalizeDestMedia(http, dest, info, CUPS_MEDIA_FLAGS_DEFAULT, &size);
                    label = text ? text : "";
                }
            } else if (keyword == "print-quality") {
                label = QualityLabel(ippGetInteger(supported, i));
            } else {
                const char *text
                    = cupsLocalizeDestValue(http, dest, info, common.keyword, value.c_str());
                label = text ? text : "";
            }
            option.choices.push_back({ value, label.empty() ? value : label });
        }

        std::string defaultValue;
        if (ipp_attribute_t *attribute = cupsFindDestDefault(http, dest, info, common.keyword))
            defaultValue = ValueText(attribute, 0);
        else if (keyword == "media-source" || keyword == "media-type") {
            if (ipp_attribute_t *col = cupsFindDestDefault(http, dest, info, "media-col")) {
                if (ipp_attribute_t *member
                    = ippFindAttribute(ippGetCollection(col, 0), common.keyword, IPP_TAG_ZERO))
                    defaultValue = ValueText(member, 0);
            }
        }
        addOption(std::move(option), defaultValue);
    }
}

void QueueCapabilities::readDriverOptions()
{
    if (!m_ppd)
        return;
    for (const PpdOption &ppdOption : m_ppd->options()) {
        if (ppdOption.keyword == kResolution || IsCoveredPpdOption(ppdOption.keyword)
            || !IsOptionName(ppdOption.keyword) || option(ppdOption.keyword))
            continue;
        DriverOption driverOption { ppdOption.keyword,
            IsBlockText(ppdOption.text) ? ppdOption.text : ppdOption.keyword, true, {}, {} };
        for (const PpdChoice &choice : ppdOption.choices) {
            if (IsBlockText(choice.keyword))
                driverOption.choices.push_back(
                    { choice.keyword, IsBlockText(choice.text) ? choice.text : choice.keyword });
        }
        addOption(std::move(driverOption), ppdOption.defaultChoice);
    }
}

const DriverOption *QueueCapabilities::option(const std::string &keyword) const
{
    const auto it = std::find_if(m_options.begin(), m_options.end(),
        [&](const DriverOption &option) { return option.keyword == keyword; });
    return it == m_options.end() ? nullptr : &*it;
}

bool QueueCapabilities::offers(const std::string &keyword, const std::string &value) const
{
    const DriverOption *found = option(keyword);
    return found
        && std::any_of(found->choices.begin(), found->choices.end(),
            [&](const cups::OptionChoice &choice) { return choice.value == value; });
}

OptionValues QueueCapabilities::defaults() const
{
    OptionValues values;
    for (const DriverOption &option : m_options) {
        const char *saved
            = cupsGetOption(option.keyword.c_str(), m_dest->num_options, m_dest->options);
        values.emplace_back(
            option.keyword, saved && offers(option.keyword, saved) ? saved : option.value);
    }
    return values;
}

std::optional<MediaSize> QueueCapabilities::mediaSize(const std::string &media) const
{
    cups_size_t size {};
    if (media.empty()
        || !cupsGetDestMediaByName(CUPS_HTTP_DEFAULT, m_dest.get(), m_info.get(), media.c_str(),
            CUPS_MEDIA_FLAGS_DEFAULT, &size))
        return std::nullopt;
    return MediaSize { media, size.width, size.length, size.left, size.right, size.top,
        size.bottom };
}

std::optional<MediaSize> QueueCapabilities::mediaSize(const SettingsBlock &block) const
{
    const auto media = block.options.find("media");
    if (media != block.options.end())
        return mediaSize(media->second);
    for (const auto &[keyword, value] : defaults()) {
        if (keyword == "media")
            return mediaSize(value);
    }
    return std::nullopt;
}

std::vector<std::string> QueueCapabilities::conflicts(const OptionValues &values) const
{
    std::vector<std::string> found;
    auto note = [&](const std::string &keyword) {
        if (option(keyword) && std::find(found.begin(), found.end(), keyword) == found.end())
            found.push_back(keyword);
    };

    // The constraints the scheduler publishes for the queue.
    for (std::size_t i = 0; i < values.size(); ++i) {
        OptionArray others;
        for (std::size_t k = 0; k < values.size(); ++k) {
            if (k != i)
                others.add(values[k].first, values[k].second);
        }
        OptionArray conflicting;
        if (cupsCopyDestConflicts(CUPS_HTTP_DEFAULT, m_dest.get(), m_info.get(), others.count(),
                others.data(), values[i].first.c_str(), values[i].second.c_str(),
                conflicting.countSlot(), conflicting.dataSlot(), nullptr, nullptr)
            == 1) {
            for (int k = 0; k < conflicting.count(); ++k)
                note(conflicting.data()[k].name);
        }
    }
    // The PPD's own constraints, which the scheduler does not publish.
    if (m_ppd) {
        for (const std::string &ppdKeyword : m_ppd->conflicts(values))
            note(SheetKeywordOfPpdOption(ppdKeyword));
    }
    // In the sheet's order.
    std::vector<std::string> ordered;
    for (const DriverOption &option : m_options) {
        if (std::find(found.begin(), found.end(), option.keyword) != found.end())
            ordered.push_back(option.keyword);
    }
    return ordered;
}

std::optional<SettingsBlock> QueueCapabilities::accept(const Bytes &settings) const
{
    std::optional<SettingsBlock> block = DecodeSettingsBlock(settings);
    if (!block || block->driver != m_makeAndModel)
        return std::nullopt;
    for (const auto &[keyword, value] : block->options) {
        if (!offers(keyword, value))
            return std::nullopt;
    }
    return block;
}

Bytes QueueCapabilities::makeBlock(const OptionValues &values) const
{
    SettingsBlock block { m_makeAndModel, {} };
    for (const auto &[keyword, value] : defaults())
        block.options[keyword] = value;
    for (const auto &[keyword, value] : values) {
        if (!offers(keyword, value))
            return {};
        block.options[keyword] = value;
    }
    return EncodeSettingsBlock(block);
}

}  // namespace vek::platform::linuxbackend
