#include "ssh/channels.h"

#include <algorithm>

#include "crypto/wipe.h"

namespace ssh {

channel_table::~channel_table() { clear(); }

void channel_table::clear() {
    for (auto& row : rows_)
        if (row) crypto::wipe(row->pending);
    rows_.clear();
    count_ = lowest_free_ = 0;
}

channel* channel_table::add(channel_handler& h, std::uint32_t window, std::uint32_t max_packet, bool window_limited,
                            std::size_t pending_limit) {
    if (count_ >= max_channels) return nullptr;
    std::size_t slot = lowest_free_;
    while (slot < rows_.size() && rows_[slot]) ++slot;
    if (slot == rows_.size()) rows_.emplace_back();
    auto row = std::make_unique<channel>();
    row->local_id = first_id + static_cast<std::uint32_t>(slot);
    row->local_window = row->window_size = window;
    row->max_packet = max_packet;
    row->window_limited = window_limited;
    row->handler = &h;
    row->pending_limit = pending_limit;
    rows_[slot] = std::move(row);
    ++count_;
    lowest_free_ = slot + 1;
    return rows_[slot].get();
}

channel* channel_table::find(std::uint32_t local_id) const {
    if (local_id < first_id || local_id - first_id >= rows_.size()) return nullptr;
    return rows_[local_id - first_id].get();
}

void channel_table::remove(std::uint32_t local_id) {
    if (!find(local_id)) return;
    const std::size_t slot = local_id - first_id;
    crypto::wipe(rows_[slot]->pending);
    rows_[slot].reset();
    --count_;
    lowest_free_ = std::min(lowest_free_, slot);
    while (!rows_.empty() && !rows_.back()) rows_.pop_back();
}

std::uint32_t consume_window(channel& c, std::size_t n) {
    c.local_window = n > c.local_window ? 0 : c.local_window - static_cast<std::uint32_t>(n);
    if (c.local_window >= c.window_size / 2) return 0;
    const std::uint32_t add = c.window_size - c.local_window;
    c.local_window = c.window_size;
    return add;
}

std::uint32_t reopen_window(channel& c, std::size_t n) {
    c.consumed += static_cast<std::uint32_t>(std::min<std::size_t>(n, c.window_size));
    if (c.consumed < c.window_size / 2) return 0;
    const std::uint32_t add = c.consumed;
    c.consumed = 0;
    c.local_window =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t(c.local_window) + add, c.window_size));
    return add;
}

void grow_remote_window(channel& c, std::uint32_t add) {
    const std::uint64_t w = std::uint64_t(c.remote_window) + add;
    c.remote_window = w > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(w);
}

std::size_t data_piece(const channel& c, std::size_t cap) {
    return c.remote_max_packet != 0 && c.remote_max_packet < cap ? c.remote_max_packet : cap;
}

}  // namespace ssh
