#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdio>

class JobHistoryReader;

// Output of `pendrill-admin history`, one record at a time as the reader reaches it.

// The JSON listing: every stored field of each record, keys in alphabetical order, StartTime
// and EndTime in local time. Either one array laid out as QJsonDocument lays out an indented
// array, or (`lines`) one compact object per line and nothing else.
class HistoryJsonWriter {
  public:
    HistoryJsonWriter(FILE* out, bool lines);
    void Begin();
    void Write(const JobHistoryReader& reader);
    // Writes what is left (Write() holds up to about 256 KiB back) and closes the array.
    void End();

  private:
    static constexpr qsizetype kFlushSize = 256 * 1024;
    void flush();
    FILE* out_;
    bool lines_;
    bool first_ = true;
    QList<int> order_;        // the reader's columns in the order of their keys
    QList<QByteArray> keys_;  // each key as written, with the comma and indent before it
    int arguments_;
    int startTime_;
    int endTime_;
    QByteArray argumentsStored_;  // the last Arguments seen as stored, and its JSON as written
    QByteArray argumentsJson_;
    QByteArray buffer_;
};

// The text listing: a heading line per record (id, end time, status in words, kind,
// application) and a line for each field that is set, times in local time with their offset,
// written on `out`.
void PrintHistoryRecord(const JobHistoryReader& reader, FILE* out);
