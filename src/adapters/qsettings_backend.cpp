#include "adapters/qsettings_backend.h"

#include <QSettings>
#include <QStringList>

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
}  // namespace

qsettings_backend::qsettings_backend(const QString& program_name)
    : values_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("QuillSoft"),
                                          program_name)),
      machine_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("QuillSoft"),
                                           QStringLiteral("telnet"))) {}

qsettings_backend::qsettings_backend(std::unique_ptr<QSettings> values, std::unique_ptr<QSettings> machine)
    : values_(std::move(values)), machine_(std::move(machine)) {}

std::unique_ptr<qsettings_backend> qsettings_backend::from_file(const QString& path) {
    return std::unique_ptr<qsettings_backend>(
        new qsettings_backend(std::make_unique<QSettings>(path, QSettings::IniFormat), nullptr));
}

qsettings_backend::~qsettings_backend() = default;

int qsettings_backend::read_int(std::string_view section, std::string_view key, int def) {
    QVariant v = values_->value(full_key(section, key));
    if (!v.isValid()) return def;
    bool ok = false;
    int n = v.typeId() == QMetaType::Int ? v.toInt(&ok) : v.toString().trimmed().toInt(&ok, 10);
    return ok ? n : def;
}

std::string qsettings_backend::read_text(std::string_view section, std::string_view key, std::string_view def) {
    QVariant v = values_->value(full_key(section, key));
    if (!v.isValid()) return std::string(def);
    return text_of(v);
}

void qsettings_backend::write_int(std::string_view section, std::string_view key, int value) {
    values_->setValue(full_key(section, key), value);
}

void qsettings_backend::write_text(std::string_view section, std::string_view key, std::string_view value) {
    values_->setValue(full_key(section, key), text_value(value));
}

bool qsettings_backend::remove_section(std::string_view section) {
    values_->beginGroup(qs(section));
    bool any = !values_->allKeys().isEmpty();
    values_->endGroup();
    values_->remove(qs(section));
    values_->sync();
    return any;
}

std::optional<std::string> qsettings_backend::read_program_dir() {
    QSettings& s = machine_ ? *machine_ : *values_;
    QVariant v = s.value(dir_key);
    if (!v.isValid()) return std::nullopt;
    return text_of(v);
}

void qsettings_backend::write_program_dir(std::string_view dir) {
    QSettings& s = machine_ ? *machine_ : *values_;
    s.setValue(dir_key, qs(dir));
}

void qsettings_backend::flush() {
    values_->sync();
    if (machine_) machine_->sync();
}

QString qsettings_backend::file_name() const { return values_->fileName(); }
