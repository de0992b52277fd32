#include "app/RunValidation.h"

#include <cstdio>

#include "app/ExitCodes.h"

bool RunValidationReport::Line(const QString& what, bool ok, const QString& reason) {
    QString text = reason;
    text.replace(QLatin1String("\r\n"), QLatin1String("; "));
    text.replace(QLatin1Char('\n'), QLatin1String("; "));
    const QString line = what + QStringLiteral(": ") + (ok ? QStringLiteral("OK") : text);
    std::printf("%s\n", line.toLocal8Bit().constData());
    return ok;
}

int RunValidationReport::End(int status) {
    if (status == ExitOk)
        std::printf("The run can start.\n");
    else
        std::printf("The run would end with \"failure\" (exit status %d).\n", status);
    std::fflush(stdout);
    return status;
}
