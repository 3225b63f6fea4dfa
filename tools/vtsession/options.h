#pragma once
// What vtsession's command line asks for; main.cpp reads it, session_run.cpp carries it out.
#include <QHostAddress>
#include <QString>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "forward/forward_rule.h"
#include "session/jump.h"

// One --get or --put: run over SFTP after sign-on, one after the other.
struct sftp_job {
    bool get = true;
    std::string from, to;
};

// What happens after --expect, in command-line order.
struct step {
    enum class kind { send, resize, pause } what = kind::send;
    std::string text;
    int rows = 0, columns = 0, ms = 0;
};

struct vtsession_options {
    std::string host, settings_file, config_name = "1", expect;
    int port = -1;
    double timeout_s = 10;
    bool json = false, history = false, accept_new_host_key = false, debug_log = false, hold = false;
    bool type_stdin = false;
    std::string capture;
    std::vector<step> steps;
    std::optional<std::pair<int, int>> size;
    std::map<std::string, std::string> sets;  // --set key=value
    std::vector<fwd::forward_rule> forwards;
    std::vector<jump_hop> jump;
    std::vector<sftp_job> sftp_jobs;
    bool sftp_resume = false, sftp_keep_times = false;
    std::map<QString, QHostAddress> names;  // --resolve
    bool stub_resolver = false;
};

// Runs the session; the process's exit status.
int run_vtsession(vtsession_options o);
