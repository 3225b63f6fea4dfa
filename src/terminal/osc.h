#pragma once
// Pieces of xterm's operating system commands that need no emulator state: colour texts (OSC 4, 10, 11,
// 12), their answers, the base64 text of a clipboard write (OSC 52) and the folder a shell reports (OSC 7).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// "rgb:R/G/B" with 1 to 4 hex digits a component (scaled to 8 bits), or "#RGB", "#RRGGBB", "#RRRGGGBBB",
// "#RRRRGGGGBBBB" (the top 8 bits of each component are kept). 0xRRGGBB, or nothing when malformed.
std::optional<uint32_t> parse_colour_text(std::string_view text);
// xterm's answer form: "rgb:rrrr/gggg/bbbb" (16-bit components).
std::string colour_answer(uint32_t rgb);
// Standard base64 ('=' padding optional); nothing when a character is outside the alphabet or the decoded text
// would exceed `limit` bytes.
std::optional<std::string> base64_decode(std::string_view text, size_t limit);
// OSC 7's file://HOST/PATH: the host and the percent-decoded path. Some shells encode no more than spaces, so a '%'
// without two hex digits stays as it is. Nothing for another scheme, a URL without a path or an encoded NUL.
struct folder_report {
    std::string host, path;
};
std::optional<folder_report> parse_folder_report(std::string_view url);
