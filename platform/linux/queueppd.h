#pragma once
// What a queue's PPD adds to the options the scheduler reports: the driver's
// own options, and the constraints between options that only the PPD knows.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vek::platform::linuxbackend {

struct PpdChoice {
    std::string keyword;
    std::string text;
};

struct PpdOption {
    std::string keyword;
    std::string text;
    std::string defaultChoice;
    std::vector<PpdChoice> choices;
};

class QueuePpd {
public:
    // The queue's PPD, or nothing when the queue has none (a raw or
    // driverless queue) or it cannot be read.
    static std::unique_ptr<QueuePpd> Open(const std::string &queue);
    ~QueuePpd();
    QueuePpd(const QueuePpd &) = delete;
    QueuePpd &operator=(const QueuePpd &) = delete;

    // The one-of-many options the user chooses in the PPD's order, with the
    // PPD's (or the queue's) defaults.
    const std::vector<PpdOption> &options() const { return m_options; }

    // The PPD options that conflict when these options (IPP or PPD names)
    // are chosen on top of the defaults.
    std::vector<std::string> conflicts(
        const std::vector<std::pair<std::string, std::string>> &values) const;

private:
    struct File;
    explicit QueuePpd(std::unique_ptr<File> file);
    std::unique_ptr<File> m_file;
    std::vector<PpdOption> m_options;
};

}  // namespace vek::platform::linuxbackend
