#include "support/TestSupport.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <csignal>

namespace testsupport {

IsolatedHome::IsolatedHome()
    : oldConfig_(qgetenv("XDG_CONFIG_HOME")),
      oldData_(qgetenv("XDG_DATA_HOME")),
      hadConfig_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")),
      hadData_(qEnvironmentVariableIsSet("XDG_DATA_HOME")) {
    QDir(dir_.path()).mkpath("config");
    QDir(dir_.path()).mkpath("data");
    qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
    qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
}

IsolatedHome::~IsolatedHome() {
    hadConfig_ ? qputenv("XDG_CONFIG_HOME", oldConfig_) : qunsetenv("XDG_CONFIG_HOME");
    hadData_ ? qputenv("XDG_DATA_HOME", oldData_) : qunsetenv("XDG_DATA_HOME");
}

QString IsolatedHome::configHome() const {
    return dir_.filePath("config");
}
QString IsolatedHome::dataHome() const {
    return dir_.filePath("data");
}

namespace {
ProcessResult run(const QString& path, const QStringList& args, const QByteArray& input,
                  int timeoutMs) {
    ProcessResult r;
    QProcess p;
    p.start(path, args);
    if (!p.waitForStarted(10000))
        return r;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        r.timedOut = true;
        p.kill();
        p.waitForFinished();
    }
    r.crashed = p.exitStatus() == QProcess::CrashExit;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
}  // namespace

ProcessResult runProgram(const QString& program, const QStringList& args, const QByteArray& input,
                         int timeoutMs) {
    return run(QStringLiteral(PENDRILL_BIN_DIR) + "/" + program, args, input, timeoutMs);
}

ProcessResult runUnprivileged(const QString& path, const QStringList& args) {
    if (::geteuid() != 0)
        return run(path, args, {}, 30000);
    // The build tree may lie where "nobody" cannot reach it (a clone under /root, mode 0700): the
    // program runs from a copy in a temporary directory that every account may enter, removed
    // afterwards. The programs load nothing else from the build tree.
    QTemporaryDir bin(QDir::tempPath() + "/pendrill-bin-XXXXXX");
    const QString copy = bin.filePath(QFileInfo(path).fileName());
    if (!bin.isValid() || ::chmod(QFile::encodeName(bin.path()).constData(), 0755) != 0 ||
        !QFile::copy(path, copy) || ::chmod(QFile::encodeName(copy).constData(), 0755) != 0) {
        ProcessResult r;
        r.err = "cannot copy " + path.toUtf8() + " to " + copy.toUtf8();
        return r;
    }
    QStringList command = {"-u", "nobody", "--", "env"};
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
        if (qEnvironmentVariableIsSet(name))
            command << QString::fromLatin1(name) + "=" + qEnvironmentVariable(name);
    }
    return run("runuser", command + QStringList{copy} + args, {}, 30000);
}

int forkUnprivileged(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const gid_t nobody = 65534;
        if (::geteuid() == 0 &&
            (::setgroups(1, &nobody) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0))
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

struct stat statOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

unsigned modeOf(const QString& path) {
    return statOf(path).st_mode & 07777;
}

bool chmodOf(const QString& path, mode_t mode) {
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QString err(const ProcessResult& result) {
    return QString::fromUtf8(result.err);
}

bool StillRunning(qint64 pid) {
    if (::kill(static_cast<pid_t>(pid), 0) != 0)
        return false;
    const QByteArray text = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = text.lastIndexOf(')');
    return !text.isEmpty() && (close < 0 || text.mid(close + 2, 1) != "Z");
}

}  // namespace testsupport
