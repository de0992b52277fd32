#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <functional>

#include "CommandTable.h"
#include "config/HookSettings.h"
#include "config/SettingsStore.h"
#include "history/Repository.h"
#include "remote/FtpTransfer.h"

namespace {

const char* const kSettingsUsage =
    "Usage: pendrill-admin settings list [--json]\n"
    "       pendrill-admin settings get NAME\n"
    "       pendrill-admin settings set NAME VALUE\n"
    "       pendrill-admin settings test repository\n"
    "Read and change the settings of this account's settings store by name.\n"
    "  list   every setting, one 'NAME<TAB>VALUE' a line (its default when not set)\n"
    "  get    the value of NAME (its default when not set)\n"
    "  set    store VALUE for NAME; an empty VALUE removes it, and the default applies again\n"
    "  test   open the job-history repository: exit 0 when it opens, else 1 and why\n"
    "Settings:\n"
    "  repository           the job-history repository: an SQLite file (an absolute path) or\n"
    "                       postgresql://[USER@]HOST[:PORT]/DATABASE\n"
    "                       (default $XDG_DATA_HOME/pendrill/repository.db)\n"
    "  ftp.passive          true or false: FTP passive mode (default false)\n"
    "  ftp.connect-timeout  seconds to connect and log in to an FTP site (default 30)\n"
    "  ftp.data-timeout     seconds without an answer or data from it (default 60)\n"
    "  ftp.ca-file          PEM file of the certificates trusted for ftps:// (default: the\n"
    "                       system's)\n"
    "  on-failure           command run after an unattended run that did not end \"ok\"\n"
    "  on-success           command run after an unattended run that ended \"ok\"\n"
    "  hook-timeout         seconds a hook may run before it is stopped (default 60)\n";

// One named setting: where it is kept in the settings store, its default, how a given value is
// checked and stored, and how a stored one is shown.
struct NamedSetting {
    const char* name;
    QString key;
    QString value;
    std::function<QString()> defaultText;
    // The text to store for `given`; false with what a value must be in `why`.
    std::function<bool(const QString& given, QString* stored, QString* why)> accept;
    std::function<QString(const QString& stored)> show = [](const QString& s) { return s; };
};

bool holdsControl(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    return false;
}

auto seconds(int most) {
    return [most](const QString& given, QString* stored, QString* why) {
        bool ok = false;
        const int n = given.trimmed().toInt(&ok);
        if (!ok || n < 1 || n > most) {
            *why = QStringLiteral("a number of seconds from 1 to %1").arg(most);
            return false;
        }
        *stored = QString::number(n);
        return true;
    };
}

bool acceptBoolean(const QString& given, QString* stored, QString* why) {
    const QString v = given.trimmed().toLower();
    if (v == QLatin1String("true") || v == QLatin1String("yes") || v == QLatin1String("1")) {
        *stored = QStringLiteral("1");
        return true;
    }
    if (v == QLatin1String("false") || v == QLatin1String("no") || v == QLatin1String("0")) {
        *stored = QStringLiteral("0");
        return true;
    }
    *why = QStringLiteral("true or false");
    return false;
}

QString showBoolean(const QString& stored) {
    const QString v = stored.trimmed().toLower();
    return v == QLatin1String("1") || v == QLatin1String("true") || v == QLatin1String("yes")
               ? QStringLiteral("true")
               : QStringLiteral("false");
}

bool acceptRepository(const QString& given, QString* stored, QString* why) {
    const QString v = given.trimmed();
    if (v.startsWith(QLatin1String("postgresql://")) ||
        v.startsWith(QLatin1String("postgres://"))) {
        const QUrl url(v, QUrl::StrictMode);
        if (!url.isValid() || url.host().isEmpty() || url.path().size() < 2) {
            *why = QStringLiteral("a URL postgresql://[USER@]HOST[:PORT]/DATABASE");
            return false;
        }
    } else if (!QDir::isAbsolutePath(v) || QFileInfo(v).isDir()) {
        *why = QStringLiteral("an absolute path of an SQLite file, or a postgresql:// URL");
        return false;
    }
    *stored = v;
    return true;
}

bool acceptCaFile(const QString& given, QString* stored, QString* why) {
    const QFileInfo file(given.trimmed());
    if (!file.isAbsolute() || !file.isFile() || !file.isReadable()) {
        *why = QStringLiteral("the absolute path of a readable PEM file");
        return false;
    }
    *stored = file.filePath();
    return true;
}

bool acceptCommand(const QString& given, QString* stored, QString*) {
    *stored = given.trimmed();
    return true;
}

const std::vector<NamedSetting>& namedSettings() {
    const QString ftp = kFtpSettingsKey;
    const QString hooks = QString::fromLatin1(HookSettingsKey);
    auto fixed = [](const char* text) { return [text] { return QString::fromLatin1(text); }; };
    static const std::vector<NamedSetting> settings = {
        {"repository", QString::fromLatin1(Repository::RepositoryLocationKey),
         QString::fromLatin1(Repository::RepositoryLocationValue), &Repository::DefaultPath,
         acceptRepository, &Repository::DisplayLocation},
        {"ftp.passive", ftp, QStringLiteral("PassiveMode"), fixed("false"), acceptBoolean,
         showBoolean},
        {"ftp.connect-timeout", ftp, QStringLiteral("ConnectTimeout"), fixed("30"), seconds(86400)},
        {"ftp.data-timeout", ftp, QStringLiteral("DataTimeout"), fixed("60"), seconds(86400)},
        {"ftp.ca-file", ftp, QStringLiteral("CAFile"), fixed(""), acceptCaFile},
        {"on-failure", hooks, QString::fromLatin1(HookOnFailureValue), fixed(""), acceptCommand},
        {"on-success", hooks, QString::fromLatin1(HookOnSuccessValue), fixed(""), acceptCommand},
        {"hook-timeout", hooks, QString::fromLatin1(HookTimeoutValue),
         [] { return QString::number(DefaultHookTimeoutSeconds); }, seconds(86400)},
    };
    return settings;
}

const NamedSetting* find(const QString& name, const AdminIo& io) {
    for (const NamedSetting& s : namedSettings())
        if (name == QLatin1String(s.name))
            return &s;
    io.error(OneLine(QStringLiteral("unknown setting '%1' (see settings --help)").arg(name)));
    return nullptr;
}

bool isStored(const NamedSetting& s) {
    return RegistryValueNames(s.key).contains(s.value, Qt::CaseInsensitive);
}

QString shown(const NamedSetting& s) {
    return isStored(s) ? s.show(ReadRegistryValue(s.key, s.value)) : s.defaultText();
}

int list(const AdminInvocation& c, const AdminIo& io) {
    const bool json = c.args.has(QStringLiteral("--json"));
    QJsonArray array;
    for (const NamedSetting& s : namedSettings()) {
        if (json)
            array.append(QJsonObject{{QStringLiteral("name"), QString::fromLatin1(s.name)},
                                     {QStringLiteral("value"), shown(s)},
                                     {QStringLiteral("stored"), isStored(s)}});
        else
            io.print(QString::fromLatin1(s.name) + QLatin1Char('\t') + OneLine(shown(s)));
    }
    if (json)
        io.write(QJsonDocument(array).toJson(QJsonDocument::Indented));
    return 0;
}

int get(const AdminInvocation& c, const AdminIo& io) {
    const NamedSetting* s = find(c.args.positional.at(0), io);
    if (s == nullptr)
        return 2;
    io.print(OneLine(shown(*s)));
    return 0;
}

int set(const AdminInvocation& c, const AdminIo& io) {
    const NamedSetting* s = find(c.args.positional.at(0), io);
    if (s == nullptr)
        return 2;
    const QString& given = c.args.positional.at(1);
    if (holdsControl(given)) {
        io.error(QStringLiteral("%1: the value holds a control character").arg(s->name));
        return 2;
    }
    bool written;
    if (given.trimmed().isEmpty()) {
        written = !isStored(*s) || DeleteRegistryValue(s->key, s->value);
    } else {
        QString stored, why;
        if (!s->accept(given, &stored, &why)) {
            io.error(OneLine(QStringLiteral("%1: '%2' is not %3").arg(s->name, given, why)));
            return 2;
        }
        written = WriteRegistryValue(s->key, s->value, stored);
    }
    if (!written) {
        io.error(QStringLiteral("cannot write the settings store %1").arg(RegistryFilePath()));
        return 1;
    }
    return 0;
}

int test(const AdminInvocation& c, const AdminIo& io) {
    if (c.args.positional.at(0) != QLatin1String("repository")) {
        io.error(OneLine(QStringLiteral("only the repository can be tested, not '%1'")
                             .arg(c.args.positional.at(0))));
        return 2;
    }
    const Repository::Location location = Repository::CurrentLocation();
    Repository::Connection connection;
    const QString where = Repository::DisplayLocation(location.path);
    if (!connection.Open(location.path, !location.configured)) {
        io.print(QStringLiteral("repository %1: %2").arg(where, OneLine(connection.LastError())));
        return 1;
    }
    io.print(QStringLiteral("repository %1: OK").arg(where));
    return 0;
}

}  // namespace

AdminGroup SettingsGroup() {
    AdminCommand list{"list"}, get{"get"}, set{"set"}, test{"test"};
    list.options = {{"--json", false}};
    list.run = ::list;
    get.minArgs = get.maxArgs = 1;
    get.run = ::get;
    set.minArgs = set.maxArgs = 2;
    set.lastArgAsGiven = true;
    set.run = ::set;
    test.minArgs = test.maxArgs = 1;
    test.run = ::test;
    for (AdminCommand* c : {&list, &get, &set, &test})
        c->usageOnWrongArgs = true;
    return AdminGroup{"settings",
                      kSettingsUsage,
                      {list, get, set, test},
                      "unknown settings command '%1' (see settings --help)"};
}
