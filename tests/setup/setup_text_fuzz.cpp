// Any config.txt or uninstall record text: the scans must stay inside the input and keep their limits.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "setup/setup_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* key : {"shortcut_desc", "shortcut_param2", ""}) {
        auto v = find_shortcut_value(text, key);
        if (v && (v->empty() || v->size() >= 254 || v->find('\'') != std::string::npos)) std::abort();
    }
    uninstall_record r = parse_uninstall_record(text);
    if (r.uninstall_string.size() > size || r.install_location.size() > size) std::abort();
    return 0;
}
