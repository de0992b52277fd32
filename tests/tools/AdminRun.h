#pragma once

#include <QStringList>
#include <cstdio>

#include "CommandTable.h"
#include "support/TestSupport.h"

namespace testsupport {

// A pendrill-admin command run in this process, its output and messages caught in files of its
// own: what the program would have printed and its exit status. (Process runs, where the process
// matters: runProgram.)
inline ProcessResult admin(const QStringList& args) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    ProcessResult r;
    r.exitCode = RunAdmin(args, AdminIo{out, err});
    for (auto [file, bytes] : {std::pair{out, &r.out}, std::pair{err, &r.err}}) {
        std::fflush(file);
        std::rewind(file);
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            bytes->append(buffer, qsizetype(n));
        std::fclose(file);
    }
    return r;
}

}  // namespace testsupport
