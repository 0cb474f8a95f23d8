// Optical writers as the kernel's CD-ROM driver and udev describe them.

#include "platform/discwriters.h"

#include "systemroot.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vek::platform {
namespace {

namespace fs = std::filesystem;
using linuxbackend::SystemPath;

struct Drive {
    std::string name;  // the kernel's device name, e.g. "sr0"
    bool writesData = false;
};

bool IsDeviceName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The info file has one row per capability and one column per drive; the
// kernel lists the newest drive first, so drives are put in number order.
std::vector<Drive> ReadDrives()
{
    std::ifstream in(SystemPath("/proc/sys/dev/cdrom/info"));
    std::vector<Drive> drives;
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string label = line.substr(0, colon);
        std::istringstream values(line.substr(colon + 1));
        if (label == "drive name") {
            drives.clear();
            for (std::string name; values >> name;)
                drives.push_back({ name });
        } else if (label.starts_with("Can write ")) {
            int flag = 0;
            for (std::size_t i = 0; i < drives.size() && values >> flag; ++i)
                drives[i].writesData = drives[i].writesData || flag != 0;
        }
    }
    std::erase_if(drives, [](const Drive &drive) { return !IsDeviceName(drive.name); });
    std::sort(drives.begin(), drives.end(), [](const Drive &a, const Drive &b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    return drives;
}

// The file's content without its final newline; padding is kept as reported.
std::string ReadAttribute(const std::string &absolute)
{
    std::ifstream in(SystemPath(absolute), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// Whether the system path link (e.g. "/dev/cdrom") is a symbolic link to
// device. Resolved by name only, so a fixture tree needs no device nodes.
bool LinksTo(const fs::path &link, const fs::path &device)
{
    std::error_code error;
    const fs::path target = fs::read_symlink(SystemPath(link.string()), error);
    if (error)
        return false;
    const fs::path resolved = target.is_absolute() ? target : link.parent_path() / target;
    return resolved.lexically_normal() == device;
}

// udev's by-id links name the drive by bus, model and serial number, which
// stays the same when the kernel numbers the drives differently.
std::string StableId(const Drive &drive, const std::string &vendor, const std::string &model)
{
    const fs::path device = "/dev/" + drive.name;
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(SystemPath("/dev/disk/by-id"), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (LinksTo(fs::path("/dev/disk/by-id") / name, device))
            names.push_back(name);
    }
    const auto rank = [](const std::string &name) {
        return name.starts_with("ata-") || name.starts_with("usb-") ? 0 : 1;
    };
    const auto best
        = std::min_element(names.begin(), names.end(), [&](const auto &a, const auto &b) {
              return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
          });
    if (best != names.end())
        return *best;

    std::string id;
    for (std::string part : { vendor, model, drive.name }) {
        const auto first = part.find_first_not_of(" \t");
        if (first == std::string::npos)
            continue;
        part = part.substr(first, part.find_last_not_of(" \t") - first + 1);
        id += (id.empty() ? "" : " ") + part;
    }
    return id;
}

// Mount tables escape blanks, tabs, newlines and backslashes as \ooo.
std::string DecodeMountField(const std::string &field)
{
    const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] <= '3' && isOctal(field[i + 1])
            && isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            out += static_cast<char>(
                (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<std::string> MountPoints(const Drive &drive)
{
    const fs::path device = "/dev/" + drive.name;
    std::ifstream in(SystemPath("/proc/self/mounts"));
    std::vector<std::string> volumes;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string source;
        std::string target;
        if (!(fields >> source >> target))
            continue;
        source = DecodeMountField(source);
        if (source != device.string() && !(source.starts_with("/dev/") && LinksTo(source, device)))
            continue;
        target = DecodeMountField(target);
        if (std::find(volumes.begin(), volumes.end(), target) == volumes.end())
            volumes.push_back(target);
    }
    return volumes;
}

}  // namespace

DiscWriterScan ListDiscWriters(std::size_t maxWriters)
{
    DiscWriterScan scan { "LINUX_CDROM", {} };
    std::vector<Drive> drives = ReadDrives();
    if (drives.size() > maxWriters)
        drives.resize(maxWriters);
    for (const Drive &drive : drives) {
        if (!drive.writesData)
            continue;
        const std::string sysfs = "/sys/block/" + drive.name + "/device/";
        DiscWriter writer;
        writer.vendorId = ReadAttribute(sysfs + "vendor");
        writer.productId = ReadAttribute(sysfs + "model");
        writer.uniqueId = StableId(drive, writer.vendorId, writer.productId);
        writer.volumes = MountPoints(drive);
        scan.writers.push_back(std::move(writer));
    }
    return scan;
}

}  // namespace vek::platform
