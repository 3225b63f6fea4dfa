#pragma once
// xterm mouse reporting: which events the host asked for (DECSET 9, 1000, 1002, 1003) and how they are encoded
// (the default, 1005 UTF-8, 1006 SGR, 1015 urxvt). Qt-free so that every encoding is tested on its own.
#include <cstddef>

enum class mouse_tracking { off = 0, x10 = 9, normal = 1000, button = 1002, any = 1003 };
enum class mouse_encoding { x10 = 0, utf8 = 1005, sgr = 1006, urxvt = 1015 };

struct mouse_event {
    enum kind_t { press, release, motion, wheel_up, wheel_down } kind = press;
    int button = 0;  // 0 left, 1 middle, 2 right; motion: the button held, 3 none
    int row = 1, column = 1;
    bool shift = false, alt = false, ctrl = false;
};

// Room for the longest report (SGR with two 4-digit coordinates, urxvt alike).
constexpr size_t mouse_report_capacity = 32;

// The bytes to send for the event, or 0 when these modes do not report it (or a coordinate cannot be encoded: the
// default encoding stops at 223, UTF-8 at 2015).
size_t encode_mouse(mouse_tracking tracking, mouse_encoding encoding, const mouse_event& ev,
                    char (&out)[mouse_report_capacity]);
