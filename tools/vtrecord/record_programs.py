#!/usr/bin/env python3
"""Records what real full-screen programs send to a 24x80 xterm-256color pty while scripted keys drive them.

usage: record_programs.py OUTDIR [NAME...]
       (names: vim nvim w3m tig dialog tmux tmux_margins less ls git man htop mc; default all found)

Each recording is a .vtrec file:
    b"VTREC1\\n", then records: b"D" + uint32 little-endian length + the bytes of one read from the pty,
    or b"S" alone: the program had paused there (just before a scripted key was sent, and at the end),
    so the screen is worth comparing at that point.
Reads are kept as read, so a replay can also feed them as the session would.
Every program runs with fixed delays and a hard time limit; a child still alive at the end is killed.
"""
import fcntl
import os
import pty
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

ROWS, COLS = 24, 80
LIMIT = 30.0  # seconds per program, whatever happens

C_FILE = r"""/* A small program for the editor to colour. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_ITEMS 64

struct item {
    char name[32];
    int count;
    double weight;
};

static int compare(const void *a, const void *b)
{
    const struct item *x = a, *y = b;
    return x->count - y->count; // by count
}

int main(int argc, char **argv)
{
    struct item items[MAX_ITEMS];
    int n = 0;
    for (int i = 1; i < argc && n < MAX_ITEMS; ++i) {
        strncpy(items[n].name, argv[i], sizeof items[n].name - 1);
        items[n].name[sizeof items[n].name - 1] = '\0';
        items[n].count = (int)strlen(argv[i]);
        items[n].weight = items[n].count * 1.5;
        ++n;
    }
    qsort(items, (size_t)n, sizeof items[0], compare);
    for (int i = 0; i < n; ++i)
        printf("%-20s %4d %8.2f\n", items[i].name, items[i].count, items[i].weight);
    if (n == 0) {
        fprintf(stderr, "usage: %s WORD...\n", argv[0]);
        return EXIT_FAILURE;
    }
    const char *msg = "done";
    switch (n % 3) {
    case 0: puts(msg); break;
    case 1: puts("one more"); break;
    default: break;
    }
    return 0;
}
"""

# Cursor keys as sent in application cursor mode, which htop and mc turn on.
UP, DOWN, RIGHT, LEFT = "\x1bOA", "\x1bOB", "\x1bOC", "\x1bOD"
F10 = "\x1b[21~"


def make_tree(work):
    """Files the ls and less recordings show: every kind ls colours."""
    d = os.path.join(work, "kinds")
    os.makedirs(os.path.join(d, "subdir"))
    os.makedirs(os.path.join(d, "sticky"))
    os.chmod(os.path.join(d, "sticky"), 0o1777)
    os.makedirs(os.path.join(d, "otherw"))
    os.chmod(os.path.join(d, "otherw"), 0o777)
    for name, mode in [("plain.txt", 0o644), ("run.sh", 0o755), ("setuid", 0o4755), ("setgid", 0o2755),
                       ("archive.tar.gz", 0o644), ("photo.png", 0o644), ("song.mp3", 0o644), ("notes.md", 0o644),
                       ("core.c", 0o644), ("backup~", 0o644)]:
        p = os.path.join(d, name)
        with open(p, "w") as f:
            f.write("x" * 10)
        os.chmod(p, mode)
    os.symlink("plain.txt", os.path.join(d, "link"))
    os.symlink("subdir", os.path.join(d, "dirlink"))
    os.symlink("missing", os.path.join(d, "broken"))
    os.mkfifo(os.path.join(d, "fifo"))
    with open(os.path.join(work, "prog.c"), "w") as f:
        f.write(C_FILE)
    with open(os.path.join(work, "text.txt"), "w") as f:
        for i in range(1, 200):
            f.write(f"line {i:3d}: " + " ".join(f"word{(i * j) % 97}" for j in range(1, 1 + i % 14)) + "\n")
    return d


def make_repo(work):
    repo = os.path.join(work, "repo")
    os.makedirs(repo)
    env = dict(os.environ, GIT_AUTHOR_NAME="A", GIT_AUTHOR_EMAIL="a@example.org", GIT_COMMITTER_NAME="A",
               GIT_COMMITTER_EMAIL="a@example.org", GIT_AUTHOR_DATE="2026-01-01T00:00:00Z",
               GIT_COMMITTER_DATE="2026-01-01T00:00:00Z")
    run = lambda *a: subprocess.run(["git", "-C", repo, *a], env=env, check=True, capture_output=True)
    run("init", "-q", "-b", "main")
    with open(os.path.join(repo, "prog.c"), "w") as f:
        f.write(C_FILE)
    with open(os.path.join(repo, "README"), "w") as f:
        f.write("first\nsecond\nthird\n")
    run("add", ".")
    run("commit", "-q", "-m", "first")
    src = C_FILE.replace("MAX_ITEMS 64", "MAX_ITEMS 128").replace("by count", "by count, then name")
    src = src.replace('    const char *msg = "done";\n', '    const char *msg = "finished";\n    fflush(stdout);\n')
    with open(os.path.join(repo, "prog.c"), "w") as f:
        f.write(src)
    with open(os.path.join(repo, "README"), "w") as f:
        f.write("first\nthird\nfourth \n")
    return repo


def programs(work):
    kinds = make_tree(work)
    repo = make_repo(work)
    vimrc = os.path.join(work, "vimrc")
    with open(vimrc, "w") as f:
        f.write("set nocompatible\nsyntax on\nset number\nset ruler\nset laststatus=2\nset hlsearch\n")
    tmuxconf = os.path.join(work, "tmux.conf")
    with open(tmuxconf, "w") as f:
        f.write('set -g default-command "bash --norc --noprofile"\nset -g status-right "%H"\n')
    tmuxmargins = os.path.join(work, "tmux-margins.conf")
    with open(tmuxmargins, "w") as f:
        f.write('set -g default-command "bash --norc --noprofile"\nset -g status-right "%H"\n'
                'set -as terminal-features ",xterm-256color:margins"\n')
    sh = ["bash", "--norc", "--noprofile", "-c"]
    page = os.path.join(work, "page.html")
    with open(page, "w") as f:
        f.write("<html><head><title>Page</title></head><body><h1>A heading</h1>\n")
        for i in range(1, 60):
            f.write(f"<p>Paragraph {i} with <b>bold</b>, <u>underlined</u> and <a href='#p{i}'>a link {i}</a>.</p>\n")
            if i % 10 == 0:
                f.write("<table border=1><tr><th>key</th><th>value</th></tr><tr><td>a</td><td>1</td></tr></table>\n")
        f.write("</body></html>\n")
    return {
        "nvim": ([
            "nvim", "--clean", "-c", "syntax on", "-c", "set number ruler laststatus=2 hlsearch", os.path.join(work, "prog.c")],
            [(1.5, "5j"), (0.4, "3w"), (0.4, "G"), (0.4, "/strlen\r"), (0.4, "n"), (0.4, "gg"),
             (0.4, "ofoo();\x1b"), (0.4, "u"), (0.5, ":q!\r")]),
        "w3m": ([
            "w3m", "-no-mouse", page],
            [(1.5, " "), (0.4, " "), (0.4, "b"), (0.4, "\t"), (0.4, "\t"), (0.4, "/link 7\r"), (0.4, "G"), (0.4, "Q")]),
        "tig": (sh + [
            "cd %s && tig" % repo],
            [(1.5, "j"), (0.4, "k"), (0.4, "\r"), (0.6, "j" * 5), (0.4, "q"), (0.4, "s"), (0.6, "q"), (0.4, "q")]),
        "dialog": (sh + [
            "dialog --menu 'Pick one' 15 50 6 1 first 2 second 3 third 4 fourth 5 fifth 6 sixth 7 seventh; "
            "dialog --checklist 'Some' 15 50 5 a one on b two off c three off d four on; "
            "dialog --gauge 'Working' 8 50 40 < /dev/null; clear"],
            [(1.0, DOWN * 2), (0.4, DOWN), (0.4, "\r"), (0.6, DOWN), (0.4, " "), (0.4, DOWN), (0.4, " "), (0.4, "\r")]),
        "vim": ([
            "vim", "-u", vimrc, "-i", "NONE", os.path.join(work, "prog.c")],
            [(1.5, "5j"), (0.4, "3w"), (0.4, "G"), (0.4, "/strlen\r"), (0.4, "n"), (0.4, "gg"),
             (0.4, "ofoo();\x1b"), (0.4, "u"), (0.5, ":q!\r")]),
        "tmux": ([
            "tmux", "-L", "vtrec%d" % os.getpid(), "-f", tmuxconf, "new-session"],
            [(1.5, "printf '\\033[1;31mred\\033[0m \\033[42mgreen\\033[0m\\n'; echo one\r"),
             (0.6, "\x02\""), (0.8, "echo lower pane; ls --color=always /\r"), (0.6, "\x02%"),
             (0.8, "echo right\r"), (0.6, "\x02o"), (0.5, "exit\r"), (0.6, "exit\r"), (0.6, "exit\r")]),
        # Told the terminal has left and right margins (as a VT420 answer to DA2 tells it), tmux scrolls a pane of
        # a side-by-side split with DECSLRM.
        "tmux_margins": ([
            "tmux", "-L", "vtrecm%d" % os.getpid(), "-f", tmuxmargins, "new-session"],
            [(1.5, "echo left\r"), (0.6, "\x02%"), (0.8, "seq 1 40\r"), (0.8, "printf '\\033[44m%s\\033[0m\\n' "
             "$(seq 100 130)\r"), (0.6, "\x02o"), (0.6, "seq 200 240\r"), (0.8, "\x02o"), (0.6, "clear; seq 5\r"),
             (0.6, "exit\r"), (0.6, "exit\r")]),
        "less": ([
            "less", os.path.join(work, "text.txt")],
            [(1.0, " "), (0.4, " "), (0.4, "b"), (0.4, "/word7\r"), (0.4, "n"), (0.4, "G"), (0.4, "g"),
             (0.4, "q")]),
        "ls": (sh + [
            'eval "$(dircolors -b)"; cd %s; ls --color=always; ls --color=always -l --time-style=+T . | '
            'cut -c1-10,24-; ls --color=always -F /' % kinds],
            []),
        "git": (sh + [
            "cd %s; git -c color.ui=always --no-pager diff --stat; git -c color.ui=always --no-pager diff; "
            "git -c color.ui=always --no-pager diff --color-words README" % repo],
            []),
        "man": ([
            "man", "ls"],
            [(2.0, " "), (0.5, " "), (0.5, "/sort\r"), (0.5, "G"), (0.5, "q")]),
        "htop": ([
            "htop", "-d", "10"],
            [(2.0, DOWN * 3), (0.6, "\t"), (0.6, "t"), (0.6, "\x1bOQ"), (0.6, "\x1b"), (0.6, "q")]),
        "mc": ([
            "mc", "-u", "-X", work, kinds],  # keys sent before mc has set its terminal up are echoed and lost
            [(4.0, DOWN * 2), (1.0, "\t"), (1.0, DOWN * 3), (1.0, "\x1b[20~"), (1.0, DOWN), (1.0, "\x1b\x1b"),
             (1.0, F10)]),
    }


def record(name, argv, steps, out_path, env):
    pid, fd = pty.fork()
    if pid == 0:
        try:
            os.execvpe(argv[0], argv, env)
        finally:
            os._exit(127)
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLS, 0, 0))
    data = bytearray(b"VTREC1\n")
    start = time.monotonic()
    alive = True
    paused_last = False

    def pump(seconds):
        nonlocal alive, paused_last
        until = time.monotonic() + seconds
        while alive:
            left = min(until, start + LIMIT) - time.monotonic()
            if left <= 0:
                return
            r, _, _ = select.select([fd], [], [], left)
            if not r:
                continue
            try:
                b = os.read(fd, 4096)
            except OSError:
                b = b""
            if not b:
                alive = False
                return
            data.extend(b"D" + struct.pack("<I", len(b)) + b)
            paused_last = False

    for delay, keys in steps:
        pump(delay)
        data.extend(b"S")
        paused_last = True
        if alive:
            os.write(fd, keys.encode())
    pump(LIMIT)  # to the end of output or the limit
    pauses = len(steps)
    if not paused_last:
        data.extend(b"S")
        pauses += 1
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    os.waitpid(pid, 0)
    os.close(fd)
    with open(out_path, "wb") as f:
        f.write(data)
    print(f"{name}: {len(data)} bytes, {pauses} pause points, {time.monotonic() - start:.1f} s")


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="vtrec") as work:
        home = os.path.join(work, "home")
        os.makedirs(home)
        env = {"PATH": "/usr/local/bin:/usr/bin:/bin", "HOME": home, "TERM": "xterm-256color", "LANG": "C.UTF-8",
               "LC_ALL": "C.UTF-8", "SHELL": "/bin/bash", "PS1": "$ ", "PAGER": "less", "MANPAGER": "less",
               "LINES": str(ROWS), "COLUMNS": str(COLS), "TZ": "UTC", "USER": "user"}
        table = programs(work)
        names = sys.argv[2:] or list(table)
        for name in names:
            argv, steps = table[name]
            if not shutil.which(argv[0]):
                print(f"{name}: {argv[0]} not installed, skipped")
                continue
            record(name, argv, steps, os.path.join(out, name + ".vtrec"), env)
    return 0


if __name__ == "__main__":
    sys.exit(main())
