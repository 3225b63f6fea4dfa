#include "dialogs/file_transfer_window.h"

#include <sys/stat.h>

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "sftp/protocol.h"

namespace {

constexpr int raw_role = Qt::UserRole;       // remote: the name's bytes; local: the absolute path
constexpr int dir_role = Qt::UserRole + 1;   // a folder (or, remote, a link that may lead to one)
constexpr int link_role = Qt::UserRole + 2;  // remote: a symbolic link
constexpr int folder_depth_limit = 256;      // as the client's folder downloads

enum transfer_column { col_file, col_direction, col_progress, col_rate, col_left, col_state, col_actions };

QString shown(std::string_view raw) { return QString::fromStdString(sftp::visible_name(raw)); }

// The local list gives its entries as file URLs when dragged, which the host's list (or any other program) takes.
class local_tree final : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;

protected:
    QStringList mimeTypes() const override { return {QStringLiteral("text/uri-list")}; }
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override {
        QList<QUrl> urls;
        for (const QTreeWidgetItem* i : items) urls << QUrl::fromLocalFile(i->data(0, raw_role).toString());
        auto* m = new QMimeData;
        m->setUrls(urls);
        return m;
    }
};
std::string local_bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString size_text(std::uint64_t n) {
    if (n < 1024) return QStringLiteral("%1 B").arg(n);
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double v = double(n);
    int u = -1;
    while (v >= 1024 && u < 3) v /= 1024, ++u;
    return QStringLiteral("%1 %2").arg(v, 0, 'f', 1).arg(QLatin1String(units[u]));
}

// A name the user typed for something inside the folder shown.
bool plain_name(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

// What is at a local path, a link not followed: nullopt when nothing.
struct local_entry {
    bool regular = false;
    std::uint64_t size = 0;
};
std::optional<local_entry> look(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return local_entry{S_ISREG(st.st_mode), static_cast<std::uint64_t>(st.st_size)};
}

std::string parent_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

file_transfer_window::prompts default_prompts(QWidget* owner) {
    file_transfer_window::prompts p;
    p.existing = [owner](const file_transfer_window::existing_target& t) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("File Transfer"),
                        QStringLiteral("%1 exists already (%2).").arg(t.name, size_text(t.existing_size)),
                        QMessageBox::NoButton, owner);
        if (t.can_resume)
            box.setInformativeText(QStringLiteral("Resume continues after its %1 bytes.").arg(t.existing_size));
        QPushButton* overwrite = box.addButton(QStringLiteral("&Overwrite"), QMessageBox::DestructiveRole);
        QPushButton* resume =
            t.can_resume ? box.addButton(QStringLiteral("R&esume"), QMessageBox::AcceptRole) : nullptr;
        QPushButton* skip = box.addButton(QStringLiteral("&Skip"), QMessageBox::RejectRole);
        QPushButton* rename = box.addButton(QStringLiteral("&Rename..."), QMessageBox::ActionRole);
        box.setDefaultButton(skip);
        box.exec();
        file_transfer_window::answer a;
        if (box.clickedButton() == overwrite) a.what = file_transfer_window::choice::overwrite;
        if (resume && box.clickedButton() == resume) a.what = file_transfer_window::choice::resume;
        if (box.clickedButton() == rename) {
            bool ok = false;
            a.new_name = QInputDialog::getText(owner, QStringLiteral("Rename"), QStringLiteral("New name:"),
                                               QLineEdit::Normal, t.name, &ok);
            a.what = ok ? file_transfer_window::choice::rename : file_transfer_window::choice::skip;
        }
        return a;
    };
    p.text = [owner](const QString& title, const QString& label, const QString& initial) -> std::optional<QString> {
        bool ok = false;
        const QString t = QInputDialog::getText(owner, title, label, QLineEdit::Normal, initial, &ok);
        if (!ok) return std::nullopt;
        return t;
    };
    p.confirm = [owner](const QString& question) {
        return QMessageBox::question(owner, QStringLiteral("File Transfer"), question) == QMessageBox::Yes;
    };
    return p;
}

}  // namespace

QString file_transfer_window::mode_text(std::uint32_t mode) {
    QString s(10, QLatin1Char('-'));
    switch (mode & 0170000) {
    case 0040000: s[0] = QLatin1Char('d'); break;
    case 0120000: s[0] = QLatin1Char('l'); break;
    case 0020000: s[0] = QLatin1Char('c'); break;
    case 0060000: s[0] = QLatin1Char('b'); break;
    case 0010000: s[0] = QLatin1Char('p'); break;
    case 0140000: s[0] = QLatin1Char('s'); break;
    default: break;
    }
    const char* rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (mode & (0400u >> i)) s[i + 1] = QLatin1Char(rwx[i]);
    // setuid, setgid and sticky show in the execute places, capital when that execute bit is off.
    const struct {
        std::uint32_t bit, exec;
        int at;
        char on, off;
    } special[] = {{04000, 0100, 3, 's', 'S'}, {02000, 010, 6, 's', 'S'}, {01000, 01, 9, 't', 'T'}};
    for (const auto& x : special)
        if (mode & x.bit) s[x.at] = QLatin1Char(mode & x.exec ? x.on : x.off);
    return s;
}

QString file_transfer_window::rate_text(double bytes_per_second) {
    if (!(bytes_per_second > 0)) return {};
    return size_text(static_cast<std::uint64_t>(bytes_per_second)) + QStringLiteral("/s");
}

QString file_transfer_window::time_left_text(std::uint64_t done, std::optional<std::uint64_t> total, double rate) {
    if (!total || !(rate > 0) || done > *total) return {};
    const auto secs = static_cast<std::uint64_t>(std::ceil(double(*total - done) / rate));
    const auto h = secs / 3600, m = secs / 60 % 60, s = secs % 60;
    if (h > 0) return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

file_transfer_window::file_transfer_window(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("File Transfer"));
    prompts_ = default_prompts(this);
    build();
    sftp::transfer_queue::hooks h;
    h.check = [this](sftp::transfer_job& j) { check_and_start(static_cast<transfer_row&>(j)); };
    h.options = [this](const sftp::transfer_job&) {
        sftp::transfer_options o;
        o.keep_times = keep_times_->isChecked();
        return o;
    };
    h.changed = [this](sftp::transfer_job& j) { show_row(static_cast<transfer_row&>(j)); };
    h.ended = [this](sftp::transfer_job& j, const sftp::outcome& o) { finished(static_cast<transfer_row&>(j), o); };
    queue_.set_hooks(std::move(h));
    set_local_folder(QDir::homePath());
    set_client(nullptr);
    resize(900, 600);
}

file_transfer_window::~file_transfer_window() {
    alive_.reset();  // the queue cancels what runs as it goes; those reports must find nothing here
}

void file_transfer_window::set_prompts(prompts p) {
    if (p.existing) prompts_.existing = std::move(p.existing);
    if (p.text) prompts_.text = std::move(p.text);
    if (p.confirm) prompts_.confirm = std::move(p.confirm);
}

void file_transfer_window::build() {
    auto* top = new QVBoxLayout(this);
    connection_ = new QLabel(this);
    top->addWidget(connection_);

    auto make_pane = [this](const QString& title, const QString& prefix, QLineEdit*& path, QTreeWidget*& list,
                            bool local) {
        auto* box = new QWidget(this);
        auto* v = new QVBoxLayout(box);
        v->setContentsMargins(0, 0, 0, 0);
        v->addWidget(new QLabel(title, box));
        auto* row = new QHBoxLayout;
        path = new QLineEdit(box);
        row->addWidget(path, 1);
        for (const auto& [name, text] : {std::pair{QStringLiteral("_up"), QStringLiteral("Up")},
                                         std::pair{QStringLiteral("_refresh"), QStringLiteral("Refresh")}}) {
            auto* b = new QPushButton(text, box);
            b->setObjectName(prefix + name);
            b->setAutoDefault(false);
            buttons_.push_back(b);
            row->addWidget(b);
        }
        v->addLayout(row);
        list = local ? new local_tree(box) : new QTreeWidget(box);
        list->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Permissions"),
                               QStringLiteral("Modified")});
        list->setRootIsDecorated(false);
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        list->setUniformRowHeights(true);
        list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
        list->header()->setStretchLastSection(false);
        list->installEventFilter(this);
        v->addWidget(list, 1);
        return box;
    };
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(make_pane(QStringLiteral("Host"), QStringLiteral("remote"), remote_path_, remote_list_, false));
    split->addWidget(
        make_pane(QStringLiteral("This computer"), QStringLiteral("local"), local_path_, local_list_, true));
    local_list_->setDragEnabled(true);
    local_list_->setDragDropMode(QAbstractItemView::DragOnly);
    top->addWidget(split, 3);
    remote_list_->setAcceptDrops(true);
    remote_list_->viewport()->setAcceptDrops(true);
    remote_list_->viewport()->installEventFilter(this);

    auto* actions = new QHBoxLayout;
    const std::pair<const char*, const char*> action_buttons[] = {
        {"upload", "&Upload"}, {"download", "&Download"},        {"rename", "Re&name..."},
        {"delete", "De&lete"}, {"new_folder", "New &Folder..."}, {"clear", "&Clear Finished"}};
    for (const auto& [name, text] : action_buttons) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        // The buttons act on the pane that had the focus: they must not take it.
        b->setFocusPolicy(Qt::NoFocus);
        buttons_.push_back(b);
        actions->addWidget(b);
    }
    actions->addStretch(1);
    keep_times_ = new QCheckBox(QStringLiteral("Keep modification &times"), this);
    keep_times_->setChecked(true);
    keep_times_->setFocusPolicy(Qt::NoFocus);
    actions->addWidget(keep_times_);
    top->addLayout(actions);

    transfer_list_ = new QTreeWidget(this);
    transfer_list_->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Direction"), QStringLiteral("Progress"),
                                     QStringLiteral("Rate"), QStringLiteral("Time left"), QStringLiteral("State"),
                                     QString()});
    transfer_list_->setRootIsDecorated(false);
    transfer_list_->setSelectionMode(QAbstractItemView::NoSelection);
    // Wide enough for the longest progress text ("1023.9 MiB of 1023.9 MiB").
    transfer_list_->header()->resizeSection(
        col_progress, transfer_list_->fontMetrics().horizontalAdvance(QStringLiteral("1023.9 MiB of 1023.9 MiB")) + 32);
    top->addWidget(transfer_list_, 2);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(status_);

    connect(button(QStringLiteral("remote_up")), &QPushButton::clicked, this, &file_transfer_window::go_up);
    connect(button(QStringLiteral("remote_refresh")), &QPushButton::clicked, this, &file_transfer_window::refresh);
    connect(button(QStringLiteral("local_up")), &QPushButton::clicked, this, [this] {
        QDir d(local_folder_);
        if (d.cdUp()) set_local_folder(d.absolutePath());
    });
    connect(button(QStringLiteral("local_refresh")), &QPushButton::clicked, this, [this] { fill_local(); });
    connect(button(QStringLiteral("upload")), &QPushButton::clicked, this, &file_transfer_window::upload);
    connect(button(QStringLiteral("download")), &QPushButton::clicked, this, &file_transfer_window::download);
    connect(button(QStringLiteral("rename")), &QPushButton::clicked, this, &file_transfer_window::rename_selected);
    connect(button(QStringLiteral("delete")), &QPushButton::clicked, this, &file_transfer_window::delete_selected);
    connect(button(QStringLiteral("new_folder")), &QPushButton::clicked, this, &file_transfer_window::new_folder);
    connect(button(QStringLiteral("clear")), &QPushButton::clicked, this, &file_transfer_window::clear_finished);
    connect(remote_list_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* i) { remote_activated(i); });
    connect(local_list_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* i) { local_activated(i); });
    connect(remote_path_, &QLineEdit::returnPressed, this, [this] {
        if (remote_path_->text() != shown(remote_folder_)) open_remote_folder(remote_path_->text().toStdString());
    });
    connect(local_path_, &QLineEdit::returnPressed, this, [this] { set_local_folder(local_path_->text()); });
}

QPushButton* file_transfer_window::button(const QString& name) const {
    for (QPushButton* b : buttons_)
        if (b->objectName() == name) return b;
    return nullptr;
}

void file_transfer_window::show_status(const QString& text, bool error) {
    status_->setText(text);
    status_->setStyleSheet(error ? QStringLiteral("color: #b00000") : QString());
}

void file_transfer_window::update_enabled() {
    const bool on = client_ != nullptr;
    for (QWidget* w : std::initializer_list<QWidget*>{
             remote_path_, remote_list_, button(QStringLiteral("remote_up")), button(QStringLiteral("remote_refresh")),
             button(QStringLiteral("upload")), button(QStringLiteral("download")), button(QStringLiteral("rename")),
             button(QStringLiteral("delete")), button(QStringLiteral("new_folder"))})
        w->setEnabled(on);
    for (auto& r : rows_) show_row(*r);
}

// ---------------------------------------------------------------------------------------------------------------
// The connection

void file_transfer_window::set_client(sftp::client* c, const std::string& start_folder, const QString& why) {
    client_ = c;
    ++generation_;
    queue_.set_client(c);
    remote_ready_ = false;
    opening_ = false;
    if (!c) {
        connection_->setText(why.isEmpty() ? QStringLiteral("Not connected")
                                           : QStringLiteral("Not connected: %1").arg(why));
        remote_list_->clear();
        if (!waiting_uploads_.isEmpty())
            show_status(QStringLiteral("%1 dropped file(s) not uploaded: not connected").arg(waiting_uploads_.size()),
                        true);
        waiting_uploads_.clear();
        update_enabled();
        return;
    }
    connection_->setText(QStringLiteral("Connected"));
    update_enabled();
    if (start_folder.empty())
        open_remote_folder(".");
    else
        list_remote(start_folder, true);
}

void file_transfer_window::set_opening() {
    if (client_) return;
    opening_ = true;
    connection_->setText(QStringLiteral("Opening the SFTP channel..."));
}

// ---------------------------------------------------------------------------------------------------------------
// The remote pane

std::string file_transfer_window::remote_join(const std::string& folder, const std::string& name) const {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

void file_transfer_window::open_remote_folder(const std::string& path) {
    if (!client_) return;
    client_->realpath(
        path, current([this, path](const sftp::outcome& o, const std::string& real) {
            if (!o.ok) {
                remote_path_->setText(shown(remote_folder_));
                return show_status(
                    QStringLiteral("Cannot open %1: %2").arg(shown(path), QString::fromStdString(o.message)), true);
            }
            list_remote(real, false);
        }));
}

void file_transfer_window::list_remote(const std::string& path, bool fallback_home) {
    if (!client_) return;
    const unsigned n = ++listing_;
    client_->list(
        path, current([this, n, path, fallback_home](const sftp::outcome& o, std::vector<sftp::dir_entry> entries) {
            if (n != listing_) return;
            if (!o.ok) {
                if (fallback_home) {
                    show_status(QStringLiteral("Cannot list %1 (%2): the home folder is shown")
                                    .arg(shown(path), QString::fromStdString(o.message)));
                    return open_remote_folder(".");
                }
                remote_path_->setText(shown(remote_folder_));
                return show_status(
                    QStringLiteral("Cannot list %1: %2").arg(shown(path), QString::fromStdString(o.message)), true);
            }
            remote_folder_ = path;
            remote_path_->setText(shown(path));
            fill_remote(entries);
            const bool first = !remote_ready_;
            remote_ready_ = true;
            if (first && !waiting_uploads_.isEmpty()) upload_paths(std::exchange(waiting_uploads_, {}));
        }));
}

void file_transfer_window::fill_remote(const std::vector<sftp::dir_entry>& entries) {
    std::vector<const sftp::dir_entry*> order;
    for (const auto& e : entries) order.push_back(&e);
    std::sort(order.begin(), order.end(), [](const sftp::dir_entry* a, const sftp::dir_entry* b) {
        if (a->a.is_dir() != b->a.is_dir()) return a->a.is_dir();
        return a->name < b->name;
    });
    remote_list_->clear();
    QList<QTreeWidgetItem*> items;
    for (const sftp::dir_entry* e : order) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, shown(e->name));
        item->setData(0, raw_role, QByteArray::fromStdString(e->name));
        item->setData(0, dir_role, e->a.is_dir() || e->a.is_link());
        item->setData(0, link_role, e->a.is_link());
        if (e->a.has_size() && !e->a.is_dir()) item->setText(1, size_text(e->a.size));
        if (e->a.has_permissions()) item->setText(2, mode_text(e->a.permissions));
        if (e->a.flags & sftp::SSH_FILEXFER_ATTR_ACMODTIME)
            item->setText(3, QDateTime::fromSecsSinceEpoch(e->a.mtime).toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        items << item;
    }
    remote_list_->addTopLevelItems(items);
}

void file_transfer_window::refresh() {
    if (client_ && !remote_folder_.empty()) list_remote(remote_folder_, false);
}

void file_transfer_window::go_up() {
    if (client_ && !remote_folder_.empty() && remote_folder_ != "/") list_remote(parent_of(remote_folder_), false);
}

void file_transfer_window::remote_activated(QTreeWidgetItem* item) {
    if (!client_ || !item || !item->data(0, dir_role).toBool()) return;
    const std::string path = remote_join(remote_folder_, item->data(0, raw_role).toByteArray().toStdString());
    if (!item->data(0, link_role).toBool()) return list_remote(path, false);
    // A link is entered only when it leads to a folder.
    client_->stat(path, true, current([this, path](const sftp::outcome& o, const sftp::attrs& a) {
                      if (o.ok && a.is_dir()) list_remote(path, false);
                  }));
}

std::vector<file_transfer_window::remote_entry> file_transfer_window::selected_remote() const {
    std::vector<remote_entry> out;
    for (QTreeWidgetItem* i : remote_list_->selectedItems()) {
        remote_entry e;
        e.name = i->data(0, raw_role).toByteArray().toStdString();
        e.a.flags = sftp::SSH_FILEXFER_ATTR_PERMISSIONS;
        e.a.permissions = i->data(0, link_role).toBool() ? 0120000 : i->data(0, dir_role).toBool() ? 0040000 : 0100000;
        out.push_back(std::move(e));
    }
    return out;
}

// ---------------------------------------------------------------------------------------------------------------
// The local pane

void file_transfer_window::set_local_folder(const QString& path) {
    QFileInfo fi(path);
    if (!fi.isDir()) {
        local_path_->setText(local_folder_);
        return show_status(QStringLiteral("%1 is not a folder").arg(path), true);
    }
    local_folder_ = fi.absoluteFilePath();
    local_path_->setText(local_folder_);
    fill_local();
}

void file_transfer_window::fill_local() {
    local_list_->clear();
    const QFileInfoList entries =
        QDir(local_folder_)
            .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                           QDir::DirsFirst | QDir::Name | QDir::IgnoreCase);
    QList<QTreeWidgetItem*> items;
    for (const QFileInfo& fi : entries) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, fi.fileName());
        item->setData(0, raw_role, fi.absoluteFilePath());
        item->setData(0, dir_role, fi.isDir());
        struct stat st {};
        if (::lstat(local_bytes(fi.absoluteFilePath()).c_str(), &st) == 0) {
            item->setText(2, mode_text(st.st_mode));
            if (S_ISREG(st.st_mode)) item->setText(1, size_text(std::uint64_t(st.st_size)));
        }
        item->setText(3, fi.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        items << item;
    }
    local_list_->addTopLevelItems(items);
}

void file_transfer_window::local_activated(QTreeWidgetItem* item) {
    if (item && item->data(0, dir_role).toBool()) set_local_folder(item->data(0, raw_role).toString());
}

QStringList file_transfer_window::selected_local() const {
    QStringList out;
    for (QTreeWidgetItem* i : local_list_->selectedItems()) out << i->data(0, raw_role).toString();
    return out;
}

void file_transfer_window::select_names(pane p, const QStringList& names) {
    QTreeWidget* list = p == pane::remote ? remote_list_ : local_list_;
    list->clearSelection();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (names.contains(list->topLevelItem(i)->text(0))) list->topLevelItem(i)->setSelected(true);
    active_ = p;
}

bool file_transfer_window::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::FocusIn) {
        if (watched == remote_list_) active_ = pane::remote;
        if (watched == local_list_) active_ = pane::local;
    }
    if (watched == remote_list_->viewport()) {
        auto local_urls = [](const QMimeData* m) {
            QStringList paths;
            if (!m || !m->hasUrls()) return paths;
            for (const QUrl& u : m->urls())
                if (u.isLocalFile()) paths << u.toLocalFile();
            return paths;
        };
        switch (e->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* d = static_cast<QDropEvent*>(e);
            if (client_ && !local_urls(d->mimeData()).isEmpty())
                d->acceptProposedAction();
            else
                d->ignore();
            return true;
        }
        case QEvent::Drop: {
            auto* d = static_cast<QDropEvent*>(e);
            const QStringList paths = local_urls(d->mimeData());
            if (paths.isEmpty()) return true;
            d->acceptProposedAction();
            upload_paths(paths);
            return true;
        }
        default: break;
        }
    }
    return QWidget::eventFilter(watched, e);
}

// ---------------------------------------------------------------------------------------------------------------
// The buttons

void file_transfer_window::upload() { upload_paths(selected_local()); }

void file_transfer_window::upload_paths(const QStringList& local_paths) {
    if (local_paths.isEmpty()) return;
    if (!client_ || !remote_ready_) {
        if (client_ || opening_) {
            waiting_uploads_ << local_paths;
            return show_status(QStringLiteral("%1 file(s) wait for the host's folder").arg(waiting_uploads_.size()));
        }
        return show_status(QStringLiteral("Not connected: nothing was uploaded"), true);
    }
    for (const QString& path : local_paths) {
        const QFileInfo fi(path);
        const std::string name = local_bytes(fi.fileName());
        const std::string target = remote_join(remote_folder_, name);
        if (fi.isDir() && !fi.isSymLink()) {
            upload_folder(fi.absoluteFilePath(), target);
        } else if (fi.isFile()) {
            queue_.add(add_row(true, target, local_bytes(fi.absoluteFilePath()), fi.fileName()));
        } else {
            show_status(QStringLiteral("%1 is not a file: not uploaded").arg(path), true);
        }
    }
}

// The folder is made on the host (or found there), then its files are uploaded one row each; links are left out.
void file_transfer_window::upload_folder(const QString& local, const std::string& remote, int depth) {
    if (!client_) return;
    if (depth > folder_depth_limit) return show_status(QStringLiteral("%1: too deep, left out").arg(local), true);
    // The local mode goes with the folder; its owner may always write into it, as the files must go in.
    struct stat st {};
    const std::optional<std::uint32_t> mode = ::stat(local_bytes(local).c_str(), &st) == 0
                                                  ? std::optional(std::uint32_t(st.st_mode & 0777) | 0700)
                                                  : std::nullopt;
    client_->mkdir(
        remote, current([this, local, remote, depth](const sftp::outcome& made) {
            if (!client_) return;
            // Made now or there already: either way a folder must stand there.
            client_->stat(
                remote, true, current([this, local, remote, depth, made](const sftp::outcome& o, const sftp::attrs& a) {
                    if (!client_) return;
                    if (!o.ok || !a.is_dir())
                        return show_status(QStringLiteral("Cannot make the folder %1: %2")
                                               .arg(shown(remote), QString::fromStdString(made.message)),
                                           true);
                    const QFileInfoList entries = QDir(local).entryInfoList(
                        QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks, QDir::Name);
                    for (const QFileInfo& fi : entries) {
                        const std::string target = remote_join(remote, local_bytes(fi.fileName()));
                        if (fi.isDir())
                            upload_folder(fi.absoluteFilePath(), target, depth + 1);
                        else
                            queue_.add(add_row(true, target, local_bytes(fi.absoluteFilePath()), fi.fileName()));
                    }
                    if (parent_of(remote) == remote_folder_) refresh();
                }));
        }),
        mode);
}

void file_transfer_window::download() {
    if (!client_ || !remote_ready_) return;
    const std::vector<remote_entry> chosen = selected_remote();
    if (chosen.empty()) return show_status(QStringLiteral("Select files on the host to download"));
    const std::string into = local_bytes(local_folder_);
    for (const remote_entry& e : chosen) {
        const std::string remote = remote_join(remote_folder_, e.name);
        const std::string local = sftp::join_path(into, sftp::safe_local_name(e.name));
        transfer_row& r = add_row(false, remote, local, shown(e.name));
        // A folder comes down whole into a folder of its name: nothing to ask first.
        r.folder = r.checked = e.a.is_dir() && !e.a.is_link();
        queue_.add(r);
    }
}

void file_transfer_window::rename_selected() {
    if (!client_) return;
    if (active_ == pane::remote) {
        const std::vector<remote_entry> chosen = selected_remote();
        if (chosen.size() != 1) return show_status(QStringLiteral("Select one entry to rename"));
        const std::string from = remote_join(remote_folder_, chosen[0].name);
        const auto name = prompts_.text(QStringLiteral("Rename"), QStringLiteral("New name:"), shown(chosen[0].name));
        if (!name || *name == shown(chosen[0].name)) return;
        if (!plain_name(*name)) return show_status(QStringLiteral("Not a name: %1").arg(*name), true);
        client_->rename(
            from, remote_join(remote_folder_, name->toStdString()), current([this, from](const sftp::outcome& o) {
                if (!o.ok)
                    show_status(
                        QStringLiteral("Cannot rename %1: %2").arg(shown(from), QString::fromStdString(o.message)),
                        true);
                refresh();
            }));
        return;
    }
    const QStringList chosen = selected_local();
    if (chosen.size() != 1) return show_status(QStringLiteral("Select one entry to rename"));
    const QFileInfo fi(chosen[0]);
    const auto name = prompts_.text(QStringLiteral("Rename"), QStringLiteral("New name:"), fi.fileName());
    if (!name || *name == fi.fileName()) return;
    if (!plain_name(*name)) return show_status(QStringLiteral("Not a name: %1").arg(*name), true);
    const QString to = fi.absoluteDir().filePath(*name);
    if (QFileInfo::exists(to) || QFileInfo(to).isSymLink())
        show_status(QStringLiteral("Cannot rename %1: %2 exists").arg(fi.fileName(), *name), true);
    else if (!QDir().rename(fi.absoluteFilePath(), to))
        show_status(QStringLiteral("Cannot rename %1").arg(fi.fileName()), true);
    fill_local();
}

void file_transfer_window::delete_selected() {
    if (!client_) return;
    if (active_ == pane::remote) {
        const std::vector<remote_entry> chosen = selected_remote();
        if (chosen.empty()) return;
        if (!prompts_.confirm(QStringLiteral("Delete %1 entr%2 on the host?")
                                  .arg(chosen.size())
                                  .arg(chosen.size() == 1 ? QStringLiteral("y") : QStringLiteral("ies"))))
            return;
        auto left = std::make_shared<std::size_t>(chosen.size());
        for (const remote_entry& e : chosen) {
            const std::string path = remote_join(remote_folder_, e.name);
            auto done = current([this, left, path](const sftp::outcome& o) {
                if (!o.ok)
                    show_status(
                        QStringLiteral("Cannot delete %1: %2").arg(shown(path), QString::fromStdString(o.message)),
                        true);
                if (--*left == 0) refresh();
            });
            if (e.a.is_dir() && !e.a.is_link())
                client_->rmdir(path, done);
            else
                client_->remove(path, done);
        }
        return;
    }
    const QStringList chosen = selected_local();
    if (chosen.isEmpty()) return;
    if (!prompts_.confirm(QStringLiteral("Delete %1 local entr%2?")
                              .arg(chosen.size())
                              .arg(chosen.size() == 1 ? QStringLiteral("y") : QStringLiteral("ies"))))
        return;
    for (const QString& path : chosen) {
        const QFileInfo fi(path);
        const bool ok = fi.isDir() && !fi.isSymLink() ? QDir().rmdir(path) : QFile::remove(path);
        if (!ok) show_status(QStringLiteral("Cannot delete %1 (a folder must be empty)").arg(fi.fileName()), true);
    }
    fill_local();
}

void file_transfer_window::new_folder() {
    if (!client_) return;
    const auto name = prompts_.text(QStringLiteral("New Folder"), QStringLiteral("Name:"), QString());
    if (!name) return;
    if (!plain_name(*name)) return show_status(QStringLiteral("Not a name: %1").arg(*name), true);
    if (active_ == pane::local) {
        if (!QDir(local_folder_).mkdir(*name))
            show_status(QStringLiteral("Cannot make the folder %1").arg(*name), true);
        return fill_local();
    }
    const std::string path = remote_join(remote_folder_, name->toStdString());
    client_->mkdir(
        path, current([this, path](const sftp::outcome& o) {
            if (!o.ok)
                show_status(
                    QStringLiteral("Cannot make the folder %1: %2").arg(shown(path), QString::fromStdString(o.message)),
                    true);
            refresh();
        }));
}

// ---------------------------------------------------------------------------------------------------------------
// Transfers

file_transfer_window::transfer_row& file_transfer_window::add_row(bool upload, std::string remote, std::string local,
                                                                  QString name) {
    auto r = std::make_unique<transfer_row>();
    r->upload = upload;
    r->remote = std::move(remote);
    r->local = std::move(local);
    r->shown = std::move(name);
    r->item = new QTreeWidgetItem(transfer_list_);
    r->item->setText(col_file, r->shown);
    r->item->setText(col_direction, upload ? QStringLiteral("Upload") : QStringLiteral("Download"));
    r->item->setToolTip(col_file, upload ? shown(r->remote) : QString::fromStdString(r->local));
    r->bar = new QProgressBar;
    r->bar->setRange(0, 1000);
    r->bar->setValue(0);
    transfer_list_->setItemWidget(r->item, col_progress, r->bar);
    auto* buttons = new QWidget;
    auto* h = new QHBoxLayout(buttons);
    h->setContentsMargins(0, 0, 0, 0);
    r->cancel = new QPushButton(QStringLiteral("Cancel"), buttons);
    r->resume = new QPushButton(QStringLiteral("Resume"), buttons);
    h->addWidget(r->cancel);
    h->addWidget(r->resume);
    transfer_list_->setItemWidget(r->item, col_actions, buttons);
    transfer_row* row = r.get();
    connect(r->cancel, &QPushButton::clicked, this, [this, row] { cancel_transfer(row_index(*row)); });
    connect(r->resume, &QPushButton::clicked, this, [this, row] { resume_transfer(row_index(*row)); });
    rows_.push_back(std::move(r));
    return *row;
}

void file_transfer_window::clear_finished() {
    std::vector<std::unique_ptr<transfer_row>> kept;
    for (auto& r : rows_) {
        if (!r->ended()) {
            kept.push_back(std::move(r));
            continue;
        }
        queue_.forget(*r);
        delete r->item;  // its widgets with it
    }
    rows_ = std::move(kept);
}

int file_transfer_window::row_index(const transfer_row& r) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].get() == &r) return int(i);
    return -1;
}

// Before a transfer starts: whether its target exists, and then the question.
void file_transfer_window::check_and_start(transfer_row& r) {
    if (!client_) return;
    transfer_row* row = &r;
    if (r.upload) {
        client_->stat(r.remote, true, current([this, row](const sftp::outcome& o, const sftp::attrs& a) {
                          if (!o.ok) return queue_.start(*row);  // nothing there (or the open will say why)
                          if (a.is_dir())
                              return queue_.end_unstarted(*row, state::failed, "a folder of that name is there");
                          existing_target q;
                          q.upload = true;
                          q.name = shown(row->remote);
                          q.existing_size = a.size;
                          if (const auto l = look(row->local)) q.size = l->size;
                          q.can_resume = a.has_size() && q.size && a.size <= *q.size;
                          ask_existing(*row, q);
                      }));
        return;
    }
    const auto target = look(r.local), part = look(sftp::partial_name(r.local));
    if (!target && !part) return queue_.start(r);
    client_->stat(r.remote, true, current([this, row, target, part](const sftp::outcome& o, const sftp::attrs& a) {
                      if (!o.ok) return queue_.start(*row);  // the transfer reports the host's refusal
                      existing_target q;
                      q.name = QString::fromStdString(row->local);
                      // A partial download is what a resume continues; without one, the file itself.
                      const auto kept = !target && part ? part : target;
                      q.existing_size = kept->size;
                      if (a.has_size()) q.size = a.size;
                      q.can_resume = kept->regular && q.size && kept->size <= *q.size;
                      ask_existing(*row, q);
                  }));
}

void file_transfer_window::ask_existing(transfer_row& r, existing_target q) {
    transfer_row* row = &r;
    const unsigned gen = generation_;
    post_question([this, row, q, gen] {
        if (gen != generation_ || !client_) return;
        answer a = prompts_.existing(q);
        if (a.what == choice::resume && !q.can_resume) a.what = choice::skip;
        apply_answer(*row, a);
    });
}

void file_transfer_window::apply_answer(transfer_row& r, const answer& a) {
    switch (a.what) {
    case choice::overwrite: r.resume_next = false; return queue_.start(r);
    case choice::resume:
        r.resume_next = true;
        // A download resumes from LOCAL.part: a whole file kept at LOCAL becomes that part.
        if (!r.upload && look(r.local) && !look(sftp::partial_name(r.local)) &&
            ::rename(r.local.c_str(), sftp::partial_name(r.local).c_str()) != 0)
            return queue_.end_unstarted(r, state::failed, "cannot move the file aside to resume it");
        return queue_.start(r);
    case choice::skip: return queue_.end_unstarted(r, state::skipped, {});
    case choice::rename:
        if (!plain_name(a.new_name))
            return queue_.end_unstarted(r, state::skipped,
                                        QStringLiteral("not a name: %1").arg(a.new_name).toStdString());
        if (r.upload) {
            r.remote = remote_join(parent_of(r.remote), a.new_name.toStdString());
        } else {
            r.local = sftp::join_path(parent_of(r.local), sftp::safe_local_name(a.new_name.toStdString()));
        }
        r.item->setToolTip(col_file, r.upload ? shown(r.remote) : QString::fromStdString(r.local));
        return check_and_start(r);
    }
}

// The queue has set the row's state and shown it.
void file_transfer_window::finished(transfer_row& r, const sftp::outcome& o) {
    if (!o.ok) {
        if (!r.cancel_asked)
            show_status(QStringLiteral("%1 of %2 failed: %3")
                            .arg(r.upload ? QStringLiteral("Upload") : QStringLiteral("Download"), r.shown,
                                 QString::fromStdString(r.message)),
                        true);
        return;
    }
    if (r.upload && parent_of(r.remote) == remote_folder_) refresh();
    if (!r.upload && QString::fromStdString(parent_of(r.local)) == local_folder_) fill_local();
}

void file_transfer_window::show_row(transfer_row& r) {
    if (r.total && *r.total > 0)
        r.bar->setValue(int(std::min<std::uint64_t>(1000, r.done * 1000 / *r.total)));
    else
        r.bar->setValue(r.st == state::done ? 1000 : 0);
    r.bar->setFormat(r.total ? QStringLiteral("%1 of %2").arg(size_text(r.done), size_text(*r.total))
                             : size_text(r.done));
    r.bar->setToolTip(r.bar->text());
    const bool running = r.st == state::running;
    r.item->setText(col_rate, running ? rate_text(r.rate) : QString());
    r.item->setText(col_left, running ? time_left_text(r.done, r.total, r.rate) : QString());
    QString text;
    switch (r.st) {
    case state::waiting: text = QStringLiteral("Waiting"); break;
    case state::running: text = QStringLiteral("Running"); break;
    case state::done: text = QStringLiteral("Done"); break;
    case state::failed: text = QStringLiteral("Failed: %1").arg(QString::fromStdString(r.message)); break;
    case state::cancelled: text = QStringLiteral("Cancelled"); break;
    case state::skipped:
        text = r.message.empty() ? QStringLiteral("Skipped") : QString::fromStdString(r.message);
        break;
    }
    r.item->setText(col_state, text);
    QStringList skipped;
    for (const auto& [remote, why] : r.skipped)
        skipped << QStringLiteral("%1: %2").arg(shown(remote), QString::fromStdString(why));
    r.item->setToolTip(col_state,
                       skipped.isEmpty() ? text : QStringLiteral("Not fetched:\n") + skipped.join(QLatin1Char('\n')));
    r.cancel->setEnabled(running);
    r.resume->setEnabled(client_ && (r.st == state::failed || r.st == state::cancelled));
}

void file_transfer_window::cancel_transfer(int row) {
    if (row < 0 || std::size_t(row) >= rows_.size() || !client_) return;
    transfer_row& r = *rows_[std::size_t(row)];
    queue_.cancel(r);
}

void file_transfer_window::resume_transfer(int row) {
    if (row < 0 || std::size_t(row) >= rows_.size() || !client_) return;
    transfer_row& r = *rows_[std::size_t(row)];
    queue_.resume(r);
}

void file_transfer_window::post_question(std::function<void()> ask) {
    questions_.push_back(std::move(ask));
    if (!asking_) QTimer::singleShot(0, this, [this] { next_question(); });
}

void file_transfer_window::next_question() {
    if (asking_ || questions_.empty()) return;
    asking_ = true;
    auto ask = std::move(questions_.front());
    questions_.pop_front();
    ask();
    asking_ = false;
    if (!questions_.empty()) QTimer::singleShot(0, this, [this] { next_question(); });
}
