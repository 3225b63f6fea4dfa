#pragma once
// HOME pointed elsewhere for one test, and given back also when an assertion ends the test early.
#include <cstdlib>
#include <string>

namespace test_support {

class scoped_home {
public:
    explicit scoped_home(const std::string& home) {
        const char* old = std::getenv("HOME");
        had_ = old != nullptr;
        if (had_) saved_ = old;
        ::setenv("HOME", home.c_str(), 1);
    }
    ~scoped_home() {
        if (had_)
            ::setenv("HOME", saved_.c_str(), 1);
        else
            ::unsetenv("HOME");
    }
    scoped_home(const scoped_home&) = delete;
    scoped_home& operator=(const scoped_home&) = delete;

private:
    std::string saved_;
    bool had_ = false;
};

}  // namespace test_support
