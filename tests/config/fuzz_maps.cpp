// Feeds arbitrary bytes to the key-map, translation-map and config.txt scanners, and (split at zero bytes) to the
// command-line parser.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/maps.h"
#include "config/memory_backend.h"
#include "config/mycli.h"
#include "config/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    key_table_t keys;
    parse_key_map(text, keys);
    for (const key_sequence& k : keys) {
        if (k.length < 0 || k.length > key_sequence_max) __builtin_trap();
    }
    translation_table_t tr{};
    parse_translation_map(text, tr);
    for (std::int32_t v : tr) {
        if (v < 0 || v > 255) __builtin_trap();
    }
    memory_backend b;
    std::string_view rest = text;
    while (!rest.empty()) {
        std::size_t n = rest.size() < 79 ? rest.size() : 79;
        import_config_chunk(rest.substr(0, n), b, "s");
        rest.remove_prefix(n);
    }

    std::vector<std::string> args;
    std::string_view all = text;
    while (!all.empty()) {
        std::size_t z = all.find('\0');
        args.emplace_back(all.substr(0, z));
        all.remove_prefix(z == std::string_view::npos ? all.size() : z + 1);
    }
    StartupValues sv;
    mycli cli(sv);
    cli.parse(args);
    (void)document_title("h", sv);
    if (command_line_port(sv.port) > 65535) __builtin_trap();
    return 0;
}
