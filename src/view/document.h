#pragma once
// The document: keeps the window's connection (its screen ring, emulator, session and SSH client). The view makes
// the connection from its own parts and closes it before they go.
#include <cassert>
#include <memory>

#include "session/connection.h"

class CVellumDoc {
public:
    connection& open(std::unique_ptr<connection> link) {
        link_ = std::move(link);
        return *link_;
    }
    void close() { link_.reset(); }
    connection& link() {
        assert(link_);
        return *link_;
    }
    screen_ring& ring() { return link().ring(); }
    const screen_ring& ring() const {
        assert(link_);
        return link_->ring();
    }

private:
    std::unique_ptr<connection> link_;
};
