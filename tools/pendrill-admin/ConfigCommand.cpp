#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "CommandTable.h"
#include "config/IniDocument.h"
#include "config/IniFiles.h"
#include "config/PasswordScrambler.h"
#include "config/RunSettings.h"
#include "config/ValueChecks.h"
#include "util/UniqueFd.h"

namespace {

const char* const kConfigUsage =
    "Usage: pendrill-admin config show FILE [--show-passwords]\n"
    "       pendrill-admin config get FILE SECTION KEY\n"
    "       pendrill-admin config set [--force] FILE SECTION KEY VALUE\n"
    "Read and write a run configuration file (.etl).\n"
    "  show   the fixed sections and the data-source sections as Pendrill reads them;\n"
    "         passwords as ******** unless --show-passwords\n"
    "  get    print one value; scrambled keys are printed in clear\n"
    "  set    write one value; scrambled keys (DTSPwd, DWPwd, and Password, ConnectString,\n"
    "         FTPPassword in data-source sections) are given in clear and stored scrambled.\n"
    "         A value with a blank at either end, or wrapped in quotes, is stored in double\n"
    "         quotes, which every reader takes off. A new file is created readable by its\n"
    "         owner only; a file that others may read is made so (mode 0600) when a\n"
    "         password is written into it, and a line on standard error says so.\n"
    "         The file is changed under its lock (FILE.lock): concurrent writers of one\n"
    "         file wait for each other and keep each other's changes.\n"
    "         Refused (exit status 2, nothing written): control characters in a name or a\n"
    "         value; a scrambled key's value with characters other than printable ASCII\n"
    "         (codes 32 to 126), which the scrambling cannot keep; a value longer than a\n"
    "         reader returns (2047 characters, 2045 for a scrambled key); in a data-source\n"
    "         section, Type, TransferData, PollInterval or PollDuration other than a whole\n"
    "         number from 0 to 32767; for UseDefaultLogFileDir, TruncLogFile, WriteEvent,\n"
    "         DTSNTAut, DWNTAut and TrustedLogin anything but TRUE or FALSE (any letter\n"
    "         case; every other text reads as TRUE); a section or key that Pendrill does not\n"
    "         read (the three fixed sections with their keys, and \"Data Source::NAME\"\n"
    "         sections with theirs), unless --force is given.\n"
    "  --force  (set) store a section or key that Pendrill does not read; every other\n"
    "         check still applies. Only right after \"set\" or after VALUE.\n"
    "A UTF-16 file (with its byte-order mark) is read as such and written back as UTF-16.\n"
    "Exit status: 0 success; 1 the file cannot be read or written, or get finds no such key;\n"
    "2 wrong usage, a refused value or key, or FILE is not a regular file (a FIFO, a device).\n"
    "--help after show, get or set prints this text.\n";

// The keys of a data-source section in their written order, with the default used on reading.
const struct {
    const char* key;
    const char* defaultValue;
} kDataSourceKeys[] = {
    {"Name", ""},          {"ModelName", ""},         {"Type", ""},          {"Server", ""},
    {"Database", ""},      {"TrustedLogin", "False"}, {"User", ""},          {"Password", ""},
    {"File", ""},          {"Directory", ""},         {"ConnectString", ""}, {"TransferData", "0"},
    {"FTPServer", ""},     {"FTPUSer", ""},           {"FTPPassword", ""},   {"RemoteDir", ""},
    {"PollDuration", "0"}, {"PollInterval", "0"},
};

QString shown(const QString& section, const QString& key, const QString& clear, bool reveal) {
    if (!RunSettings::IsScrambledKey(section, key) || reveal)
        return clear;
    return clear.isEmpty() ? QString() : QStringLiteral("********");
}

// Why a file cannot be read, in words.
QString unreadableReason(const QString& file) {
    const QByteArray path = QFile::encodeName(file);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return QStringLiteral("no such file");
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a directory");
    if (!UniqueFd(::open(path.constData(), O_RDONLY | O_CLOEXEC)).valid())
        return QString::fromLocal8Bit(std::strerror(errno));
    return QStringLiteral("read error");
}

// FILE exists but is no regular file nor a directory (a FIFO or a device would block or never
// end): an error is printed. Checked before the file is opened.
bool notRegularFile(const QString& file, const AdminIo& io) {
    struct stat st {};
    // A directory is reported as unreadable, like a file without read permission.
    if (::stat(QFile::encodeName(file).constData(), &st) != 0 || S_ISREG(st.st_mode) ||
        S_ISDIR(st.st_mode))
        return false;
    io.error(QStringLiteral("%1 is not a regular file").arg(file));
    return true;
}

// Reads the whole file once. A missing file is an empty profile when `missingIsEmpty` (set
// creates it); otherwise, and for a file that cannot be read, an error is printed and nullopt
// returned.
std::optional<IniDocument> readProfile(const QString& file, bool missingIsEmpty,
                                       const AdminIo& io) {
    std::optional<IniDocument> profile;
    if (missingIsEmpty || QFileInfo::exists(file))
        profile = IniDocument::load(file);
    if (!profile)
        io.error(QStringLiteral("cannot read %1: %2").arg(file, unreadableReason(file)));
    return profile;
}

int show(const AdminInvocation& c, const AdminIo& io) {
    const QString& file = c.args.positional.at(0);
    const bool reveal = c.args.has(QStringLiteral("--show-passwords"));
    if (notRegularFile(file, io))
        return 2;
    const std::optional<IniDocument> profile = readProfile(file, false, io);
    if (!profile)
        return 1;
    RunSettings s;
    s.ReadConfig(*profile);
    QString out;
    auto line = [&](const QString& text) { out += text + QLatin1Char('\n'); };
    const auto b = RunSettings::BooleanText;
    const QString pkg = QString::fromLatin1(RunSettings::PackageSection);
    const QString dts = QString::fromLatin1(RunSettings::DTSSection);
    const QString dw = QString::fromLatin1(RunSettings::DWSection);
    line('[' + pkg + ']');
    line("Package=" + s.DTSPackageName);
    line("LogFile=" + s.ExceptionLogFile);
    line("LogFileDir=" + s.LogFileDir);
    line("UseDefaultLogFileDir=" + b(s.UseDefaultLogFileDir));
    line("TruncLogFile=" + b(s.TruncateExceptionLogFile));
    line("WriteEvent=" + b(s.WriteCompletionStatusToNT));
    line(QString());
    line('[' + dts + ']');
    line("DTSServer=" + s.DTSServer);
    line("DTSNTAut=" + b(s.DTSServerTrustedLogin));
    line("DTSUser=" + s.DTSLoginUserName);
    line("DTSPwd=" + shown(dts, "DTSPwd", s.DTSLoginPassword, reveal));
    line(QString());
    line('[' + dw + ']');
    line("DWServer=" + s.DWServer);
    line("DWNTAut=" + b(s.DWServerTrustedLogin));
    line("DWUser=" + s.DWServerLoginUserName);
    line("DWPwd=" + shown(dw, "DWPwd", s.DWServerLoginPassword, reveal));
    line("DWDB=" + s.DWDatabaseName);

    for (const QString& section : profile->sectionNames()) {
        if (!section.startsWith(QLatin1String(RunSettings::DataSourceSectionPrefix),
                                Qt::CaseInsensitive))
            continue;
        line(QString());
        line('[' + section + ']');
        for (const auto& k : kDataSourceKeys) {
            const QString key = QString::fromLatin1(k.key);
            QString value = IniValueOf(*profile, section, key, QString::fromLatin1(k.defaultValue));
            if (key == QLatin1String("TrustedLogin"))
                value = b(RunSettings::ParseBoolean(value));
            else if (RunSettings::IsScrambledKey(section, key))
                value = shown(section, key, DecryptPassword(value), reveal);
            line(key + '=' + value);
        }
    }
    io.write(out.toLocal8Bit());
    return 0;
}

int get(const AdminInvocation& c, const AdminIo& io) {
    const QString &file = c.args.positional.at(0), &section = c.args.positional.at(1),
                  &key = c.args.positional.at(2);
    if (notRegularFile(file, io))
        return 2;
    const std::optional<IniDocument> profile = readProfile(file, false, io);
    if (!profile)
        return 1;
    if (!profile->value(section, key)) {
        io.error(QStringLiteral("%1: no key '%2' in section '%3'").arg(file, key, section));
        return 1;
    }
    QString value = IniValueOf(*profile, section, key, QString());
    if (RunSettings::IsScrambledKey(section, key))
        value = DecryptPassword(value);
    io.print(value);
    return 0;
}

int set(const AdminInvocation& c, const AdminIo& io) {
    const QString &file = c.args.positional.at(0), &section = c.args.positional.at(1),
                  &key = c.args.positional.at(2), &value = c.args.positional.at(3);
    const bool force = c.args.has(QStringLiteral("--force"));
    QString why = ConfigValueRefusal(section, key, value);
    if (why.isEmpty() && !force) {
        why = ConfigKeyRefusal(section, key);
        if (!why.isEmpty())
            why += QStringLiteral("; --force stores it all the same");
    }
    if (!why.isEmpty()) {
        io.error(why);
        return 2;
    }
    if (notRegularFile(file, io))
        return 2;
    const bool scrambled = RunSettings::IsScrambledKey(section, key);
    const QString stored = scrambled ? EncryptPassword(value) : value;
    // Read, change and replace under the file's write lock: a concurrent set of another key of
    // the same file is kept.
    bool readable = true, storable = true, brokenUtf16 = false;
    QString reason;
    const bool written = EditIniFile(
        file,
        [&](IniDocument& profile) {
            brokenUtf16 = profile.isBrokenUtf16();
            storable = profile.setValue(section, key, stored);
            return storable;
        },
        scrambled && !value.isEmpty() ? IniContent::Password : IniContent::Plain, 0600, &reason);
    if (written)
        return 0;
    if (brokenUtf16) {
        io.error(QStringLiteral("%1 starts with a UTF-16 byte-order mark but is not UTF-16 "
                                "text; it is not changed")
                     .arg(file));
        return 2;
    }
    if (!storable) {
        io.error(
            QStringLiteral("a section or key name must not be empty or hold a line break, "
                           "'=' or a leading ';' or '['; a value must not hold a line "
                           "break"));
        return 2;
    }
    readable = !QFileInfo::exists(file) || IniDocument::load(file).has_value();
    if (!readable)
        io.error(QStringLiteral("cannot read %1: %2").arg(file, unreadableReason(file)));
    else
        io.error(QStringLiteral("cannot write %1: %2").arg(file, reason));
    return 1;
}

}  // namespace

// show FILE [--show-passwords]; get FILE SECTION KEY; set [--force] FILE SECTION KEY VALUE
// [--force]: VALUE is taken as it is, whatever it looks like, and --force only where it cannot
// be a part of the value.
AdminGroup ConfigGroup() {
    AdminCommand show{"show"}, get{"get"}, set{"set"};
    show.options = {{"--show-passwords", false}};
    show.minArgs = show.maxArgs = 1;
    show.run = ::show;
    get.minArgs = get.maxArgs = 3;
    get.run = ::get;
    set.options = {{"--force", false, false, true}};
    set.minArgs = set.maxArgs = 4;
    set.lastArgAsGiven = true;
    set.run = ::set;
    for (AdminCommand* c : {&show, &get, &set})
        c->usageOnWrongArgs = true;
    return AdminGroup{"config", kConfigUsage, {show, get, set}};
}
