#include "AdminSecrets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "util/UniqueFd.h"

namespace {

// The longest password line read; a file without a line break in it is refused.
constexpr qsizetype kMaxSecret = 4096;

// The first line of the open descriptor `fd`, without its line break.
bool readFirstLine(int fd, const QString& what, QString* secret, QString* error) {
    QByteArray bytes;
    char c;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = QStringLiteral("cannot read %1: %2").arg(what, qt_error_string(errno));
            return false;
        }
        if (n == 0 || c == '\n')
            break;
        if (bytes.size() == kMaxSecret || c == '\0') {
            *error = QStringLiteral("%1 holds no password line").arg(what);
            return false;
        }
        bytes += c;
    }
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    *secret = QString::fromUtf8(bytes);
    return true;
}

bool readSecret(const QString& source, QString* secret, QString* error) {
    if (source == QLatin1String("-"))
        return readFirstLine(STDIN_FILENO, QStringLiteral("standard input"), secret, error);
    const UniqueFd fd(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        *error = QStringLiteral("cannot read %1: %2").arg(source, qt_error_string(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *error = QStringLiteral("cannot read %1: it is a directory").arg(source);
        return false;
    }
    return readFirstLine(fd.get(), source, secret, error);
}

}  // namespace

bool ResolveSecretOptions(AdminArgs* args, QString* error) {
    static const char* const pairs[][2] = {{"--password", "--password-file"},
                                           {"--ds-password", "--ds-password-file"},
                                           {"--ftp-password", "--ftp-password-file"}};
    bool stdinTaken = false;
    for (const auto& pair : pairs) {
        const QString option = QString::fromLatin1(pair[0]), file = QString::fromLatin1(pair[1]);
        const bool given = args->values.contains(option), fromFile = args->values.contains(file);
        if (given && fromFile) {
            *error = QStringLiteral("%1 and %2 cannot go together").arg(option, file);
            return false;
        }
        if (!fromFile && !(given && args->value(option) == QLatin1String("-")))
            continue;
        const QString source = fromFile ? args->value(file) : QStringLiteral("-");
        if (source == QLatin1String("-")) {
            if (stdinTaken) {
                *error = QStringLiteral("only one password can come from standard input");
                return false;
            }
            stdinTaken = true;
        }
        QString secret;
        if (!readSecret(source, &secret, error)) {
            *error = (fromFile ? file : option) + QStringLiteral(": ") + *error;
            return false;
        }
        args->values.remove(file);
        args->values[option] = QStringList{secret};
    }
    return true;
}

QString PasswordFromEnvironment() {
    return qEnvironmentVariable("PENDRILL_PASSWORD");
}
