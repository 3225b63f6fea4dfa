#include "ssh/question_gate.h"

#include <utility>

namespace ssh {

bool question_gate::hold(const std::uint8_t* bytes, std::size_t n) {
    if (n > capacity - waiting_.size()) return false;
    waiting_.insert(waiting_.end(), bytes, bytes + n);
    return true;
}

std::vector<std::uint8_t> question_gate::take() { return std::exchange(waiting_, {}); }

void question_gate::close() {
    asking_ = false;
    waiting_.clear();
}

}  // namespace ssh
