#include "PackageRunRequest.h"

#include <optional>

#include "dts/DtsPackage.h"

namespace {

enum class Kind { Text, Boolean };

struct RunField {
    const char* variable;
    Kind kind;
    QString RunSettings::*text;
    bool RunSettings::*flag;
    bool fromPackage;  // starts from the package's value (the DTS login comes from LOGIN)
};

const RunField kRunFields[] = {
    {"DTSServerTrustedLogin", Kind::Boolean, nullptr, &RunSettings::DTSServerTrustedLogin, false},
    {"DTSServerLoginUserName", Kind::Text, &RunSettings::DTSLoginUserName, nullptr, false},
    {"DTSServerLoginPassword", Kind::Text, &RunSettings::DTSLoginPassword, nullptr, false},
    {"DestinationServer", Kind::Text, &RunSettings::DWServer, nullptr, true},
    {"DestServerTrustedLogin", Kind::Boolean, nullptr, &RunSettings::DWServerTrustedLogin, true},
    {"DestServerLoginUserName", Kind::Text, &RunSettings::DWServerLoginUserName, nullptr, true},
    {"DestServerLoginPassword", Kind::Text, &RunSettings::DWServerLoginPassword, nullptr, true},
    {"DestServerDatabaseName", Kind::Text, &RunSettings::DWDatabaseName, nullptr, true},
    {"WriteCompletionStatusToNT", Kind::Boolean, nullptr, &RunSettings::WriteCompletionStatusToNT,
     true},
    {"JobID", Kind::Text, &RunSettings::JobID, nullptr, true},
};

const char* const kCommandLineVariables[] = {"DTSServer", "ExceptionFilePath",
                                             "OverwriteGlobalSettings"};

const RunField* FieldOf(const QString& variable) {
    for (const RunField& f : kRunFields)
        if (variable.compare(QLatin1String(f.variable), Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

std::optional<bool> ParseFlag(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1"))
        return true;
    if (t == QLatin1String("false") || t == QLatin1String("0"))
        return false;
    return std::nullopt;
}

bool PackageFlag(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    return ParseFlag(value.toString()).value_or(false);
}

// The value a --set writes into a variable of the package's own: false with `error` when the
// package has no such variable or the value does not suit the variable's type.
bool PackageValue(const DtsPackage& package, const QString& name, const QString& value,
                  QVariant* written, QString* error) {
    if (!package.HasGlobalVariable(name)) {
        *error = QStringLiteral("package %1 has no global variable %2").arg(package.Name(), name);
        return false;
    }
    const QVariant current = package.GlobalVariableValue(name);
    *written = value;
    if (current.typeId() == QMetaType::Bool) {
        const std::optional<bool> flag = ParseFlag(value);
        if (!flag) {
            *error = QStringLiteral("%1 is a boolean: true or false, not '%2'").arg(name, value);
            return false;
        }
        *written = *flag;
    } else if (current.typeId() == QMetaType::LongLong) {
        bool ok = false;
        *written = value.trimmed().toLongLong(&ok);
        if (!ok) {
            *error = QStringLiteral("%1 is an integer, not '%2'").arg(name, value);
            return false;
        }
    }
    return true;
}

}  // namespace

bool PackageRunRequest::AddSetting(const QString& assignment, QString* error) {
    const qsizetype eq = assignment.indexOf(QLatin1Char('='));
    const QString name = assignment.left(eq).trimmed();
    if (eq <= 0 || name.isEmpty()) {
        *error = QStringLiteral("--set needs NAME=VALUE, not '%1'").arg(assignment);
        return false;
    }
    for (const char* v : kCommandLineVariables) {
        if (name.compare(QLatin1String(v), Qt::CaseInsensitive) == 0) {
            *error = QStringLiteral("%1 cannot be set: the run gives it (see --help)").arg(name);
            return false;
        }
    }
    const QString value = assignment.mid(eq + 1);
    const RunField* field = FieldOf(name);
    if (field && field->kind == Kind::Boolean && !ParseFlag(value)) {
        *error = QStringLiteral("%1 is a boolean: true or false, not '%2'").arg(name, value);
        return false;
    }
    settings_.append({name, value});
    return true;
}

bool PackageRunRequest::CheckSettings(const DtsPackage& package, QString* error) const {
    for (const auto& [name, value] : settings_) {
        QVariant written;
        if (!FieldOf(name) && !PackageValue(package, name, value, &written, error))
            return false;
    }
    return true;
}

bool PackageRunRequest::ApplySettings(DtsPackage* package, QString* error) {
    if (package == nullptr) {
        *error = QStringLiteral("no package loaded");
        return false;
    }
    if (!CheckSettings(*package, error))
        return false;
    for (const RunField& f : kRunFields) {
        const QString variable = QLatin1String(f.variable);
        if (!f.fromPackage || !package->HasGlobalVariable(variable))
            continue;
        const QVariant current = package->GlobalVariableValue(variable);
        if (f.kind == Kind::Boolean)
            this->*f.flag = PackageFlag(current);
        else
            this->*f.text = current.toString();
    }
    for (const auto& [name, value] : settings_) {
        if (const RunField* f = FieldOf(name)) {
            if (f->kind == Kind::Boolean)
                this->*f->flag = *ParseFlag(value);
            else
                this->*f->text = value;
            continue;
        }
        QVariant written;
        PackageValue(*package, name, value, &written, error);
        package->SetGlobalVariableValue(name, written);
    }
    return true;
}
