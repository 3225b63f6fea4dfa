#pragma once
// The locale variables an SSH-2 session passes to the host (env requests), chosen as OpenSSH's stock client
// configuration chooses them: `SendEnv LANG LC_*`.
#include <string>
#include <vector>

struct env_variable {
    std::string name, value;
};

// Bounds on what is sent: a host's sshd keeps only so much, and the environment is the user's to fill.
inline constexpr std::size_t locale_env_max_count = 16;
inline constexpr std::size_t locale_env_max_name = 64;
inline constexpr std::size_t locale_env_max_value = 256;

// LANG and every LC_ variable of `env` (a null-terminated "NAME=value" array as `environ`), in its order. A
// variable with an empty value, a name or value over its bound or a control character in the value is left out;
// at most locale_env_max_count are taken.
std::vector<env_variable> locale_environment(const char* const* env);
// The variables of `env` whose names match one of `patterns` (OpenSSH's SendEnv: * and ?), under the same bounds.
std::vector<env_variable> matching_environment(const char* const* env, const std::vector<std::string>& patterns);
