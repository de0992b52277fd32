#include "remote/SftpSession.h"

#include <curl/curl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QRegularExpression>

#include "util/FileUtils.h"

namespace {

const QString kKnownHosts = QStringLiteral("~/.ssh/known_hosts");

bool isRegularFile(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

// Accepts the host key only when known_hosts holds exactly this key for the host.
int checkHostKey(CURL*, const curl_khkey*, const curl_khkey*, curl_khmatch match, void* data) {
    auto* check = static_cast<SftpHostCheck*>(data);
    if (match == CURLKHMATCH_OK)
        return CURLKHSTAT_FINE;
    if (match == CURLKHMATCH_MISMATCH)
        check->refusal = QStringLiteral(
                             "Host key of %1 does not match %2 (it may have been "
                             "replaced, or someone is in the middle)")
                             .arg(check->hostAndPort, kKnownHosts);
    else
        check->refusal =
            QStringLiteral("Host key of %1 is not in %2").arg(check->hostAndPort, kKnownHosts);
    return CURLKHSTAT_REJECT;
}

QString accountName() {
    const passwd* account = ::getpwuid(::geteuid());
    return account != nullptr ? QString::fromLocal8Bit(account->pw_name) : QString();
}

}  // namespace

QString SshHomeDirectory() {
    const QString home = QFile::decodeName(qgetenv("HOME"));
    if (QDir::isAbsolutePath(home))
        return home;
    const passwd* account = ::getpwuid(::geteuid());
    return account != nullptr && account->pw_dir != nullptr ? QFile::decodeName(account->pw_dir)
                                                            : QString();
}

void ConfigureSftp(CURL* handle, const FtpServerAddress& address, bool withPassword, bool withUser,
                   SftpHostCheck& check) {
    check.hostAndPort = address.host + QLatin1Char(':') + QString::number(address.port);
    check.refusal.clear();
    const QString ssh = SshHomeDirectory() + QStringLiteral("/.ssh/");
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "sftp");
    if (!withUser)
        curl_easy_setopt(handle, CURLOPT_USERNAME, accountName().toLocal8Bit().constData());
    long methods = withPassword ? CURLSSH_AUTH_PASSWORD : 0;
    for (const char* key : {"id_ed25519", "id_rsa"}) {
        const QString privateKey = ssh + QLatin1String(key);
        if (!isRegularFile(privateKey))
            continue;
        curl_easy_setopt(handle, CURLOPT_SSH_PRIVATE_KEYFILE,
                         QFile::encodeName(privateKey).constData());
        if (isRegularFile(privateKey + QStringLiteral(".pub")))
            curl_easy_setopt(handle, CURLOPT_SSH_PUBLIC_KEYFILE,
                             QFile::encodeName(privateKey + QStringLiteral(".pub")).constData());
        methods |= CURLSSH_AUTH_PUBLICKEY;
        break;
    }
    // No method at all would let libcurl pick its own: the password (empty) is then tried.
    curl_easy_setopt(handle, CURLOPT_SSH_AUTH_TYPES,
                     methods != 0 ? methods : CURLSSH_AUTH_PASSWORD);
    curl_easy_setopt(handle, CURLOPT_SSH_KNOWNHOSTS,
                     QFile::encodeName(ssh + QStringLiteral("known_hosts")).constData());
    curl_easy_setopt(handle, CURLOPT_SSH_KEYFUNCTION, &checkHostKey);
    curl_easy_setopt(handle, CURLOPT_SSH_KEYDATA, &check);
}

bool ParseSftpListing(const QByteArray& listing, std::vector<FtpEntry>& entries) {
    // mode, links, owner, group, size, month, day, time or year, then one space and the name.
    static const QRegularExpression line(
        QStringLiteral("^([-a-zA-Z])\\S*\\s+\\d+\\s+\\S+\\s+\\S+\\s+(\\d+)\\s+\\S+\\s+\\S+\\s+\\S+ "
                       "(.*)$"));
    const QList<QByteArray> lines = listing.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty() && i == lines.size() - 1)
            break;
        // Read byte for byte (a name need not be UTF-8): the name is taken from the bytes.
        const QRegularExpressionMatch match = line.match(QString::fromLatin1(lines[i]));
        if (!match.hasMatch())
            return false;
        const QChar type = match.captured(1).at(0);
        FtpEntry entry;
        QByteArray name = lines[i].mid(match.capturedStart(3));
        if (type == QLatin1Char('l') && name.contains(" -> "))
            name.truncate(name.indexOf(" -> "));
        entry.name = NameFromBytes(name);
        if (type == QLatin1Char('-')) {
            entry.sizeKnown = true;
            entry.size = match.captured(2).toLongLong();
        } else if (type != QLatin1Char('l')) {
            entry.directory = true;
        }
        entries.push_back(entry);
    }
    return true;
}
