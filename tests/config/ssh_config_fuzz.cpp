// Feeds arbitrary text as the user's ~/.ssh/config. Include reaches the same text again under two names (the
// file itself and "inc"), so self-inclusion and fan-out run into the depth and file limits.
#include <cstddef>
#include <cstdint>
#include <fnmatch.h>
#include <string>
#include <string_view>
#include <vector>

#include "config/ssh_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    static const std::string user_file = "/h/.ssh/config", inc_file = "/h/.ssh/inc";
    int reads = 0;
    ssh_config_sources src;
    src.user_file = user_file;
    src.home = "/h";
    src.local_host = "box.example";
    src.io.read_file = [&](const std::string& path) -> std::optional<std::string> {
        ++reads;
        if (path == user_file || path == inc_file) return text;
        return std::nullopt;
    };
    src.io.glob = [](const std::string& pattern) {
        std::vector<std::string> out;
        for (const std::string* p : {&user_file, &inc_file})
            if (::fnmatch(pattern.c_str(), p->c_str(), FNM_PATHNAME) == 0) out.push_back(*p);
        return out;
    };
    for (std::string_view alias : {"host", "a.example", ""}) {
        reads = 0;
        const ssh_host_config c = resolve(alias, "me", src);
        if (reads > ssh_config_limits::max_files) __builtin_trap();
        if (c.port && (*c.port < 1 || *c.port > 65535)) __builtin_trap();
        if (c.identity_files.size() > ssh_config_limits::max_key_files) __builtin_trap();
        for (const std::string& d : c.diagnostics)
            if (d.rfind("~/.ssh/", 0) != 0) __builtin_trap();  // every message names its file
    }
    reads = 0;
    for (const std::string& h : concrete_hosts(src)) {
        if (h.empty() || h[0] == '!' || h.find_first_of("*?") != std::string::npos) __builtin_trap();
    }
    if (reads > ssh_config_limits::max_files) __builtin_trap();
    return 0;
}
