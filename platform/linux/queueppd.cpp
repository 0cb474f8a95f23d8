#include "queueppd.h"

#include "cupsobjects.h"

#include <cups/ppd.h>

#include <unistd.h>

#include <climits>

// The PPD interface of libcups is marked deprecated in favour of the IPP
// capabilities, but a queue's own driver options and their constraints exist
// only in its PPD. Its use is kept to this file.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace vek::platform::linuxbackend {

struct QueuePpd::File {
    ppd_file_t *ppd = nullptr;
    ~File()
    {
        if (ppd)
            ppdClose(ppd);
    }
};

namespace {

// The PPD copy the scheduler hands out, removed again once it is parsed.
class DownloadedPpd {
public:
    explicit DownloadedPpd(const std::string &queue)
    {
        time_t modified = 0;
        m_path[0] = '\0';
        m_ok = cupsGetPPD3(CUPS_HTTP_DEFAULT, queue.c_str(), &modified, m_path, sizeof m_path)
            == HTTP_STATUS_OK;
    }
    DownloadedPpd(const DownloadedPpd &) = delete;
    DownloadedPpd &operator=(const DownloadedPpd &) = delete;
    ~DownloadedPpd()
    {
        if (m_ok)
            unlink(m_path);
    }
    const char *path() const { return m_ok ? m_path : nullptr; }

private:
    char m_path[PATH_MAX];
    bool m_ok = false;
};

}  // namespace

std::unique_ptr<QueuePpd> QueuePpd::Open(const std::string &queue)
{
    auto file = std::make_unique<File>();
    {
        const DownloadedPpd downloaded(queue);
        if (!downloaded.path())
            return nullptr;
        file->ppd = ppdOpenFile(downloaded.path());
    }
    if (!file->ppd)
        return nullptr;
    ppdMarkDefaults(file->ppd);
    return std::unique_ptr<QueuePpd>(new QueuePpd(std::move(file)));
}

QueuePpd::QueuePpd(std::unique_ptr<File> file)
    : m_file(std::move(file))
{
    ppd_file_t *ppd = m_file->ppd;
    for (ppd_option_t *option = ppdFirstOption(ppd); option; option = ppdNextOption(ppd)) {
        if (option->ui == PPD_UI_PICKMANY || option->num_choices < 1)
            continue;
        PpdOption entry { option->keyword, option->text[0] ? option->text : option->keyword,
            option->defchoice, {} };
        for (int i = 0; i < option->num_choices; ++i) {
            const ppd_choice_t &choice = option->choices[i];
            // A custom value is typed, not chosen; the sheet offers fixed choices.
            if (std::string(choice.choice) == "Custom")
                continue;
            entry.choices.push_back(
                { choice.choice, choice.text[0] ? choice.text : choice.choice });
            if (choice.marked)
                entry.defaultChoice = choice.choice;
        }
        if (!entry.choices.empty())
            m_options.push_back(std::move(entry));
    }
}

QueuePpd::~QueuePpd() = default;

std::vector<std::string> QueuePpd::conflicts(
    const std::vector<std::pair<std::string, std::string>> &values) const
{
    ppd_file_t *ppd = m_file->ppd;
    ppdMarkDefaults(ppd);
    const OptionArray options(values);
    // Maps the IPP names (media, sides, ...) onto the PPD's own options too.
    cupsMarkOptions(ppd, options.count(), options.data());
    std::vector<std::string> names;
    if (ppdConflicts(ppd) > 0) {
        for (ppd_option_t *option = ppdFirstOption(ppd); option; option = ppdNextOption(ppd)) {
            if (option->conflicted)
                names.emplace_back(option->keyword);
        }
    }
    ppdMarkDefaults(ppd);
    return names;
}

}  // namespace vek::platform::linuxbackend

#pragma GCC diagnostic pop
