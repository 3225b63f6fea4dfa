#include "adapters/qsettings_backend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {
QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Texts are UTF-8, but a config.txt saved in Latin-1 brings other bytes: keep their characters instead of
// replacing them.
QString text_value(std::string_view s) {
    QString u = qs(s);
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    if (u.contains(QChar::ReplacementCharacter) && s.find(replacement) == std::string_view::npos)
        return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
    return u;
}

QString full_key(std::string_view section, std::string_view key) { return qs(section) + QLatin1Char('/') + qs(key); }

std::string text_of(const QVariant& v) {
    // A hand-edited value with commas comes back as a list; keep it as the text it was.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QLatin1Char(',')).toStdString();
    return v.toString().toUtf8().toStdString();
}

const QString dir_key = QStringLiteral("dir");

std::string utf8(const QString& s) { return s.toUtf8().toStdString(); }

QString user_file(const QString& program_name) {
    // Where QSettings keeps a per-user native-format store on this platform.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/QuillSoft/") +
           program_name + QStringLiteral(".conf");
}

// Why a settings path cannot be used; empty for a regular file or nothing at all. Checked before QSettings opens
// it: reading a FIFO blocks for ever, and what is written into a device vanishes without an error.
QString unusable_reason(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    if (S_ISREG(st.st_mode)) return {};
    if (S_ISDIR(st.st_mode)) return QStringLiteral("it is a folder");
    if (S_ISFIFO(st.st_mode)) return QStringLiteral("it is a FIFO");
    return QStringLiteral("it is a device or another special file");
}

QString write_failure_reason(const QString& path) {
    const QString dir = QFileInfo(path).absolutePath();
    const QByteArray d = QFile::encodeName(dir);
    if (!QFileInfo(dir).isDir()) return QStringLiteral("the folder %1 cannot be created").arg(dir);
    if (::access(d.constData(), W_OK) != 0) return QStringLiteral("the folder %1 is read-only").arg(dir);
    struct statvfs v {};
    if (::statvfs(d.constData(), &v) == 0 && v.f_bavail == 0) return QStringLiteral("the disk is full");
    if (QFileInfo::exists(path) && ::access(QFile::encodeName(path).constData(), W_OK) != 0)
        return QStringLiteral("the file is read-only");
    return QStringLiteral("the system refused to write it");
}

std::string save_failure_text(const QString& path, const QString& why) {
    return utf8(QStringLiteral("The settings could not be saved to %1: %2. The changes made in this run are lost.")
                    .arg(path, why));
}

// The folder is made owner-only when we create it; an existing one is the user's business.
void make_private_folder(const QString& dir) {
    if (QFileInfo(dir).isDir()) return;
    QDir().mkpath(dir);
    ::chmod(QFile::encodeName(dir).constData(), 0700);
}
}  // namespace

qsettings_backend::qsettings_backend(const QString& program_name)
    : path_(user_file(program_name)), machine_path_(user_file(QStringLiteral("telnet"))) {
    if (const QString why = unusable_reason(path_); why.isEmpty()) {
        values_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                              QStringLiteral("QuillSoft"), program_name);
    } else {
        load_problem_ = refusal_text(path_, why);
    }
    if (unusable_reason(machine_path_).isEmpty())
        machine_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                               QStringLiteral("QuillSoft"), QStringLiteral("telnet"));
}

qsettings_backend::qsettings_backend(const QString& path, bool) : path_(path) {
    if (const QString why = unusable_reason(path_); why.isEmpty())
        values_ = std::make_unique<QSettings>(path_, QSettings::IniFormat);
    else
        load_problem_ = refusal_text(path_, why);
}

std::string qsettings_backend::refusal_text(const QString& path, const QString& why) {
    return utf8(QStringLiteral("The settings file %1 cannot be used: %2. It was left as it is; this run uses the "
                               "default settings and saves nothing.")
                    .arg(path, why));
}

std::unique_ptr<qsettings_backend> qsettings_backend::from_file(const QString& path) {
    return std::unique_ptr<qsettings_backend>(new qsettings_backend(path, true));
}

bool qsettings_backend::writable() {
    // Checked at the first write of a save, before anything is handed to QSettings: it syncs pending changes by
    // itself later, and a FIFO put in place of the file meanwhile would block that for ever.
    if (!values_) return false;
    if (!write_checked_) {
        write_checked_ = true;
        write_refusal_ = unusable_reason(path_);
    }
    return write_refusal_.isEmpty();
}

qsettings_backend::~qsettings_backend() = default;

int qsettings_backend::read_int(std::string_view section, std::string_view key, int def) {
    if (!values_) return def;
    QVariant v = values_->value(full_key(section, key));
    if (!v.isValid()) return def;
    bool ok = false;
    int n = v.typeId() == QMetaType::Int ? v.toInt(&ok) : v.toString().trimmed().toInt(&ok, 10);
    return ok ? n : def;
}

std::string qsettings_backend::read_text(std::string_view section, std::string_view key, std::string_view def) {
    if (!values_) return std::string(def);
    QVariant v = values_->value(full_key(section, key));
    if (!v.isValid()) return std::string(def);
    return text_of(v);
}

void qsettings_backend::write_int(std::string_view section, std::string_view key, int value) {
    if (!writable()) return;
    values_->setValue(full_key(section, key), value);
}

void qsettings_backend::write_text(std::string_view section, std::string_view key, std::string_view value) {
    if (!writable()) return;
    values_->setValue(full_key(section, key), text_value(value));
}

void qsettings_backend::remove_key(std::string_view section, std::string_view key) {
    if (!writable()) return;
    values_->remove(full_key(section, key));
}

bool qsettings_backend::remove_section(std::string_view section) {
    if (!writable()) return false;
    values_->beginGroup(qs(section));
    bool any = !values_->allKeys().isEmpty();
    values_->endGroup();
    values_->remove(qs(section));
    flush();
    return any;
}

std::vector<std::string> qsettings_backend::sections() {
    std::vector<std::string> out;
    if (!values_) return out;
    QStringList groups;
    for (const QString& key : values_->allKeys()) {
        // Key names hold no slash: what stands before the last one is the section (`dir` has none).
        const qsizetype slash = key.lastIndexOf(QLatin1Char('/'));
        if (slash > 0 && !groups.contains(key.left(slash))) groups << key.left(slash);
    }
    for (const QString& g : groups) out.push_back(utf8(g));
    return out;
}

bool qsettings_backend::copy_section(std::string_view from, std::string_view to) {
    if (!values_) return false;
    values_->beginGroup(qs(from));
    const QStringList keys = values_->childKeys();
    std::vector<std::pair<QString, QVariant>> own;
    for (const QString& k : keys) own.emplace_back(k, values_->value(k));
    values_->endGroup();
    if (own.empty() || !writable()) return false;
    for (const auto& [k, v] : own) values_->setValue(qs(to) + QLatin1Char('/') + k, v);
    return true;
}

std::optional<std::string> qsettings_backend::read_program_dir() {
    if (machine_refused() || (!machine_ && !values_)) return std::nullopt;
    QSettings& s = machine_ ? *machine_ : *values_;
    QVariant v = s.value(dir_key);
    if (!v.isValid()) return std::nullopt;
    return text_of(v);
}

void qsettings_backend::write_program_dir(std::string_view dir) {
    if (machine_refused()) return;
    if (machine_) {
        if (unusable_reason(machine_path_).isEmpty()) machine_->setValue(dir_key, qs(dir));
        return;
    }
    if (writable()) values_->setValue(dir_key, qs(dir));
}

void qsettings_backend::flush() {
    save_problem_.clear();
    const bool refused = !writable();
    write_checked_ = false;  // the next save looks at the file again
    if (refused) {
        const QString why = values_ ? write_refusal_ : unusable_reason(path_);
        save_problem_ = save_failure_text(path_, why.isEmpty() ? QStringLiteral("it could not be read at start") : why);
        return;
    }
    make_private_folder(QFileInfo(path_).absolutePath());
    values_->sync();
    if (values_->status() != QSettings::NoError || !unusable_reason(path_).isEmpty() || !QFileInfo::exists(path_)) {
        save_problem_ = save_failure_text(path_, write_failure_reason(path_));
    } else {
        // Owner-only: the file holds the user's hosts and log-in texts.
        ::chmod(QFile::encodeName(path_).constData(), 0600);
    }
    if (machine_ && unusable_reason(machine_path_).isEmpty()) {
        machine_->sync();
        ::chmod(QFile::encodeName(machine_path_).constData(), 0600);
    }
}

QString qsettings_backend::file_name() const { return path_; }
