#pragma once
// The document: owns the screen ring, which outlives the view's emulator.
#include <memory>

#include "terminal/screen.h"

class CVellumDoc {
public:
    CVellumDoc() : ring_(std::make_unique<screen_ring>()) {}
    screen_ring& ring() { return *ring_; }
    const screen_ring& ring() const { return *ring_; }

private:
    std::unique_ptr<screen_ring> ring_;  // ~170 KB: kept off the stack
};
