#include <QDialog>

#include "app/mainframe.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "config/ssh_config.h"
#include "config/ui_services.h"
#include "dialogs/connect_dialogs.h"
#include "dialogs/font_dialogs.h"
#include "dialogs/settings_dialogs.h"
#include "dialogs/tunnels_dialog.h"
#include "session/session.h"
#include "ssh/ssh_client.h"
#include "terminal/vt.h"
#include "view/view.h"
#include "view/view_mouse.h"

// Handlers and enable rules for the Connect command, the settings dialogs and the Edit menu's selection commands.

namespace {

class frame_connect_actions : public connect_actions {
public:
    explicit frame_connect_actions(CMainFrame& f) : f_(f) {}
    void apply_modes(bool auto_wrap, bool new_line) override {
        f_.terminal().set_auto_wrap_mode(auto_wrap);
        f_.terminal().set_new_line_mode(new_line);
    }
    // An attempt still under way counts too: a second one would leave the first socket behind.
    bool connected() override { return f_.view().net().busy(); }
    bool direct_connect() override { return f_.direct_connect(); }
    void message(std::string_view text) override { f_.ui().message_box(text); }
    bool ask_host(Settings& s) override {
        session_options sessions;
        sessions.store = &f_.store();
        sessions.may_save = f_.save_allowed();
        sessions.use = [this](const std::string& name) { use_configuration(name); };
        sessions.ssh_hosts = concrete_hosts(default_ssh_config_sources());
        gethost dlg(s, std::move(sessions), &f_);
        return dlg.exec() == QDialog::Accepted;
    }
    void connect_to(const std::string& host, int port) override { f_.view().connect_to(host.c_str(), port); }
    void repaint() override { f_.repaint_view(); }

private:
    // A session connected with from the Connect dialog (double-click, or OK with it picked): the configuration in
    // use is saved as at exit, then the session's configuration is read and shown.
    void use_configuration(const std::string& name) {
        f_.save_settings();
        switch_configuration(settings(), f_.store(), name);
        Settings& s = settings();
        if (s.term_size == 132 && f_.view().columns() != 132) f_.terminal().set_columns(132);  // as at the start
        f_.view().show_scroll_bar(s.scroll_bar != 0);
        f_.view().settings_changed();
        f_.relayout();
        f_.repaint_view();
    }

    CMainFrame& f_;
};

// Runs a settings dialog on the process-wide record; true when OK stored its fields.
template <class Dialog, class... Args>
bool run_dialog(CMainFrame& f, Args&&... args) {
    Dialog dlg(settings(), std::forward<Args>(args)..., &f);
    return dlg.exec() == QDialog::Accepted;
}

// The bold colour's dialog also offers whether bold shows in the bright palette colours.
void colour_command(CMainFrame& f, int command, int Settings::*field, bool with_bold_bright = false) {
    f.set_command(command, [&f, field, with_bold_bright] {
        colour_chooser dlg(settings().*field, &f, with_bold_bright ? &settings().bold_bright : nullptr);
        if (dlg.exec() == QDialog::Accepted) f.repaint_view();
    });
}

}  // namespace

void register_dialog_commands(CMainFrame& f) {
    f.set_command(cmd::connect, [&f] {
        // Asked interactively, so SSH-1 shows the sign-on dialog from now on, even if this one is refused.
        f.ssh().set_ask_again();
        frame_connect_actions a(f);
        connect_command(settings(), a);
    });

    auto saving = [&f] { return f.save_allowed(); };
    f.set_command(
        cmd::proxy, [&f] { run_dialog<getproxy>(f); }, saving);
    f.set_command(
        cmd::auto_login, [&f] { run_dialog<getauto>(f); }, saving);
    f.set_command(
        cmd::mapping_files, [&f] { run_dialog<getkey>(f); }, saving);
    // The forwards to open and, while connected, the running ones with their counts.
    f.set_command(
        cmd::ssh_tunnels,
        [&f] {
            gethost_tunnels dlg(settings(), &f, [&f] { return f.ssh().tunnels(); });
            dlg.exec();
        },
        saving);
    f.set_command(
        cmd::termtype,
        [&f] {
            if (!run_dialog<getterm>(f)) return;
            f.view().settings_changed();  // utf8, the terminal type and clipboard writes, also while connected
            f.view().refit();             // the screen may follow the window now, or no more
        },
        saving);

    f.set_command(cmd::cursor, [&f] {
        if (run_dialog<getcursor>(f)) f.repaint_view();
    });
    f.set_command(cmd::printer_margins, [&f] { run_dialog<getmargin>(f); });
    // The printer code builds its font from the settings for every job, so storing them is enough.
    f.set_command(cmd::printer_font, [&f] { run_dialog<font_chooser>(f, font_chooser::printer); });
    f.set_command(cmd::screen_font, [&f] {
        if (!run_dialog<font_chooser>(f, font_chooser::screen)) return;
        f.relayout();
        f.repaint_view();
    });

    colour_command(f, cmd::color_text, &Settings::color_fg);
    colour_command(f, cmd::color_background, &Settings::color_bg);
    colour_command(f, cmd::color_cursor, &Settings::color_cursor);
    colour_command(f, cmd::color_bold, &Settings::color_bold, true);

    auto& mouse = f.view().mouse();
    auto has_selection = [&mouse] { return mouse.has_selection(); };
    f.set_command(cmd::select_all, [&mouse] { mouse.select_all(); });
    f.set_command(
        cmd::copy, [&mouse] { mouse.copy(); }, has_selection);
    f.set_command(
        cmd::append, [&mouse] { mouse.append(); }, has_selection);
    f.set_command(
        cmd::paste, [&mouse] { mouse.paste(); }, [] { return view_mouse::clipboard_has_text(); });
}
