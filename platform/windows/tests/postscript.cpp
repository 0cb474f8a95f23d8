#include "postscript.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace vek::platform::test {

namespace {

std::optional<Bytes> Ascii85Decode(std::string_view text)
{
    Bytes out;
    std::uint32_t group = 0;
    int count = 0;
    for (const char c : text) {
        if (c == 'z' && count == 0) {
            out.insert(out.end(), 4, 0);
            continue;
        }
        if (c < '!' || c > 'u')
            continue;  // white space
        group = group * 85 + std::uint32_t(c - '!');
        if (++count == 5) {
            for (int shift = 24; shift >= 0; shift -= 8)
                out.push_back(std::uint8_t(group >> shift));
            group = 0;
            count = 0;
        }
    }
    if (count == 1)
        return std::nullopt;
    if (count > 1) {
        for (int i = count; i < 5; ++i)
            group = group * 85 + 84;
        for (int i = 0; i < count - 1; ++i)
            out.push_back(std::uint8_t(group >> (24 - 8 * i)));
    }
    return out;
}

std::optional<Bytes> RunLengthDecode(const Bytes &in)
{
    Bytes out;
    for (std::size_t i = 0; i < in.size();) {
        const int length = in[i++];
        if (length == 128)
            return out;
        if (length < 128) {
            if (i + length + 1 > in.size())
                return std::nullopt;
            out.insert(out.end(), in.begin() + i, in.begin() + i + length + 1);
            i += length + 1;
        } else {
            if (i >= in.size())
                return std::nullopt;
            out.insert(out.end(), std::size_t(257 - length), in[i++]);
        }
    }
    return out;
}

int NumberAfter(std::string_view text, std::string_view key)
{
    const std::size_t at = text.find(key);
    return at == std::string_view::npos
        ? 0
        : std::atoi(std::string(text.substr(at + key.size(), 12)).c_str());
}

}  // namespace

std::vector<PostScriptImage> ReadPostScriptImages(const Bytes &document)
{
    const std::string_view text(reinterpret_cast<const char *>(document.data()), document.size());
    std::vector<PostScriptImage> images;
    std::size_t from = 0;
    for (;;) {
        const std::size_t open = text.find("<<\n /ImageType 1", from);
        if (open == std::string_view::npos)
            return images;
        const std::size_t data = text.find("\nimage\n", open);
        const std::size_t end = text.find("~>", data);
        if (data == std::string_view::npos || end == std::string_view::npos)
            return images;
        PostScriptImage image;
        const std::string_view header = text.substr(open, data - open);
        image.width = NumberAfter(header, "/Width ");
        image.height = NumberAfter(header, "/Height ");
        if (const std::size_t matrix = header.find("/ImageMatrix [");
            matrix != std::string_view::npos)
            image.matrix
                = std::string(header.substr(matrix + 14, header.find(']', matrix) - matrix - 14));
        // The two lines before the image: where it goes and how large.
        const std::size_t scale = text.rfind(" scale\n", open);
        const std::size_t translate = text.rfind("\n", text.rfind(" translate\n", open));
        if (scale != std::string_view::npos && translate != std::string_view::npos)
            image.placement = std::string(text.substr(translate + 1, scale + 6 - translate - 1));
        const std::size_t first = data + 7;
        if (const auto packed = Ascii85Decode(text.substr(first, end - first)))
            image.rgb = RunLengthDecode(*packed).value_or(Bytes());
        images.push_back(std::move(image));
        from = end;
    }
}

}  // namespace vek::platform::test
