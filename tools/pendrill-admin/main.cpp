#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "CommandTable.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const AdminIo io;
    const int status = RunAdmin(args, io);
    // Output that did not all arrive (a full disk, a closed pipe behind standard output) is a
    // failure, whatever the command said: a scheduler's "... > file && mv file" must not go on.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int code = errno;
        if (status == 0) {
            io.error(QStringLiteral("cannot write to standard output: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(code))));
            return 1;
        }
    }
    return status;
}
