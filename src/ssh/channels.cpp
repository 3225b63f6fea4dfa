#include "ssh/channels.h"

#include <algorithm>

#include "crypto/wipe.h"

namespace ssh {

channel_table::~channel_table() { clear(); }

void channel_table::clear() {
    for (auto& row : rows_) crypto::wipe(row->pending);
    rows_.clear();
}

channel* channel_table::add(channel_handler& h, std::uint32_t window, std::uint32_t max_packet, bool window_limited,
                            std::size_t pending_limit) {
    if (rows_.size() >= max_channels) return nullptr;
    std::uint32_t id = first_id;
    while (find(id)) ++id;
    auto row = std::make_unique<channel>();
    row->local_id = id;
    row->local_window = row->window_size = window;
    row->max_packet = max_packet;
    row->window_limited = window_limited;
    row->handler = &h;
    row->pending_limit = pending_limit;
    if (window_limited) row->pending.reserve(pending_limit);
    rows_.push_back(std::move(row));
    return rows_.back().get();
}

channel* channel_table::find(std::uint32_t local_id) const {
    for (auto& row : rows_)
        if (row->local_id == local_id) return row.get();
    return nullptr;
}

void channel_table::remove(std::uint32_t local_id) {
    const auto it =
        std::find_if(rows_.begin(), rows_.end(), [&](const auto& row) { return row->local_id == local_id; });
    if (it == rows_.end()) return;
    crypto::wipe((*it)->pending);
    rows_.erase(it);
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
