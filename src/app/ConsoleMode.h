#pragma once

#include <QString>

// The console of usage mode: standard output and standard input.
void OpenConsole(const QString& title);
// Writes the text unchanged; no line end is added.
void ConsoleWrite(const QString& text);
// Reads one line of at most 256 characters and returns it without its line end. End of input
// gives the empty text at once.
QString ConsoleReadLine();
void CloseConsole();
