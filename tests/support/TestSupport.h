#pragma once

#include <sys/stat.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <ostream>

// Texts in failure messages, quoted.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace testsupport {

// A private home for one test: XDG_CONFIG_HOME and XDG_DATA_HOME point into a fresh temporary
// directory for the life of the object, so the settings store and the repository never touch the
// user's real files. The previous values come back on destruction.
class IsolatedHome {
  public:
    IsolatedHome();
    ~IsolatedHome();
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    QString configHome() const;
    QString dataHome() const;

  private:
    QTemporaryDir dir_;
    QByteArray oldConfig_, oldData_;
    bool hadConfig_ = false, hadData_ = false;
};

struct ProcessResult {
    int exitCode = -1;
    bool crashed = false;
    bool timedOut = false;
    QByteArray out;
    QByteArray err;
};

// Runs one of the built programs (name relative to the build's bin directory) with the given
// arguments and standard input; the environment is inherited, so IsolatedHome applies.
ProcessResult runProgram(const QString& program, const QStringList& args,
                         const QByteArray& input = {}, int timeoutMs = 30000);

// Runs the program at `path` as an account that permissions bind: "nobody" (through runuser,
// keeping XDG_CONFIG_HOME and XDG_DATA_HOME) when the tests run as root, else the test's own. As
// "nobody" it runs a copy of the program in a temporary directory of mode 0755, so the build
// directory need not be reachable for that account.
ProcessResult runUnprivileged(const QString& path, const QStringList& args);
// Runs `body` in a forked child under that account; its exit code (100: could not drop root).
int forkUnprivileged(const std::function<int()>& body);

// What a program wrote on standard error, as text.
QString err(const ProcessResult& result);

// True while `pid` names a process that has not ended (a zombie has ended).
bool StillRunning(qint64 pid);

QByteArray readAll(const QString& path);
bool writeAll(const QString& path, const QByteArray& data);
// stat() of `path` (all zero when it fails), its mode bits (07777), and chmod().
struct stat statOf(const QString& path);
unsigned modeOf(const QString& path);
bool chmodOf(const QString& path, mode_t mode);

}  // namespace testsupport
