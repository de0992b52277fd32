#pragma once

#include <QString>
#include <functional>

// Where a fetch's notes go while it goes on: the lines its caller keeps in the run log
// ("Polling for remote data.", a status file not found yet, a file that could not be copied),
// some of them also shown in a message box when the caller is interactive. The caller decides
// what a note becomes (the run hands its run log; a tool prints them); without sinks notes go
// nowhere. The failure that ends a call is returned to its caller, not noted.
struct RemoteNotes {
    // A line for the run log.
    std::function<void(const QString& line)> note;
    // A line for the run log shown in a message box (style 0, 16 critical; its title) in
    // interactive mode; without one it is noted as a line.
    std::function<void(const QString& text, int style, const QString& title)> box;
    // A file that reached the local directory whole, with its size.
    std::function<void(const QString& file, qint64 bytes)> fetched;

    void Note(const QString& line) const {
        if (note)
            note(line);
    }
    void Fetched(const QString& file, qint64 bytes) const {
        if (fetched)
            fetched(file, bytes);
    }
    void Box(const QString& text, int style, const QString& title) const {
        if (box)
            box(text, style, title);
        else
            Note(text);
    }
};
