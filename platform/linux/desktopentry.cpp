#include "platform/linux/desktopentry.h"

#include <map>
#include <sstream>
#include <string_view>

namespace vek::platform::linuxbackend {
namespace {

// The string escapes of a Desktop Entry value.
std::string EscapeString(std::string_view text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::optional<std::string> UnescapeString(std::string_view text)
{
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            plain += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\':
            plain += '\\';
            break;
        case 's':
            plain += ' ';
            break;
        case 'n':
            plain += '\n';
            break;
        case 't':
            plain += '\t';
            break;
        case 'r':
            plain += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return plain;
}

bool NeedsQuoteEscape(char c)
{
    return c == '"' || c == '`' || c == '$' || c == '\\';
}

// "%%" is a literal '%'; any other field code makes the argument not a path.
std::optional<std::string> UnescapeFieldCodes(const std::string &argument)
{
    std::string plain;
    for (std::size_t i = 0; i < argument.size(); ++i) {
        if (argument[i] == '%' && (i + 1 == argument.size() || argument[++i] != '%'))
            return std::nullopt;
        plain += argument[i];
    }
    return plain;
}

std::string_view Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The keys of the [Desktop Entry] group; the first of a repeated key counts.
std::map<std::string, std::string, std::less<>> MainGroup(const std::string &content)
{
    std::map<std::string, std::string, std::less<>> keys;
    std::istringstream lines(content);
    bool inMainGroup = false;
    for (std::string line; std::getline(lines, line);) {
        const std::string_view text = Trimmed(line);
        if (text.empty() || text.front() == '#')
            continue;
        if (text.front() == '[') {
            inMainGroup = text == "[Desktop Entry]";
            continue;
        }
        const auto equals = text.find('=');
        if (!inMainGroup || equals == std::string_view::npos)
            continue;
        keys.emplace(std::string(Trimmed(text.substr(0, equals))),
            std::string(Trimmed(text.substr(equals + 1))));
    }
    return keys;
}

}  // namespace

std::string DesktopExecValue(const std::string &programPath)
{
    std::string quoted = "\"";
    for (const char c : programPath) {
        if (NeedsQuoteEscape(c))
            quoted += '\\';
        quoted += c;
        if (c == '%')
            quoted += '%';
    }
    quoted += '"';
    return EscapeString(quoted);
}

std::optional<std::vector<std::string>> ParseDesktopExecValue(const std::string &value)
{
    const std::optional<std::string> text = UnescapeString(value);
    if (!text)
        return std::nullopt;
    std::vector<std::string> arguments;
    std::size_t i = 0;
    while (i < text->size()) {
        if ((*text)[i] == ' ') {
            ++i;
            continue;
        }
        std::string argument;
        if ((*text)[i] == '"') {
            for (++i;; ++i) {
                if (i == text->size())
                    return std::nullopt;  // no closing quote
                char c = (*text)[i];
                if (c == '"')
                    break;
                if (c == '\\') {
                    if (i + 1 == text->size() || !NeedsQuoteEscape((*text)[i + 1]))
                        return std::nullopt;
                    c = (*text)[++i];
                }
                argument += c;
            }
            ++i;
            if (i < text->size() && (*text)[i] != ' ')
                return std::nullopt;
        } else {
            for (; i < text->size() && (*text)[i] != ' '; ++i) {
                if (NeedsQuoteEscape((*text)[i]))
                    return std::nullopt;
                argument += (*text)[i];
            }
        }
        std::optional<std::string> plain = UnescapeFieldCodes(argument);
        if (!plain)
            return std::nullopt;
        arguments.push_back(std::move(*plain));
    }
    return arguments;
}

std::string AutostartEntry(const std::string &name, const std::string &programPath)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name="
        + EscapeString(name)
        + "\n"
          "Exec="
        + DesktopExecValue(programPath)
        + "\n"
          "Terminal=false\n"
          "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartEntryRuns(const std::string &content, const std::string &programPath)
{
    const auto keys = MainGroup(content);
    const auto valueOf = [&keys](std::string_view key) -> std::string {
        const auto found = keys.find(key);
        return found == keys.end() ? std::string() : found->second;
    };
    // Desktops honour both switches: Hidden from the autostart rules and
    // GNOME's own key, which its start-up settings write.
    if (valueOf("Hidden") == "true" || valueOf("X-GNOME-Autostart-enabled") == "false")
        return false;
    const auto arguments = ParseDesktopExecValue(valueOf("Exec"));
    return arguments && *arguments == std::vector<std::string> { programPath };
}

}  // namespace vek::platform::linuxbackend
