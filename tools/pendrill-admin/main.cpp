#include <QCoreApplication>

#include "CommandTable.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return RunAdmin(args, AdminIo{});
}
