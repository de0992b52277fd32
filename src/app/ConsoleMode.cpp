#include "app/ConsoleMode.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

void OpenConsole(const QString& title) {
    // A terminal shows the title in its window caption; elsewhere nothing is written.
    if (::isatty(fileno(stdout)) != 0)
        std::fprintf(stdout, "\033]0;%s\007", title.toLocal8Bit().constData());
}

void ConsoleWrite(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

QString ConsoleReadLine() {
    char buffer[258];
    if (std::fgets(buffer, sizeof buffer, stdin) == nullptr)
        return QString();
    size_t n = std::strlen(buffer);
    while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r'))
        buffer[--n] = '\0';
    if (n > 256)
        n = 256;
    return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n));
}

void CloseConsole() {
    std::fflush(stdout);
}
