#pragma once

#include <cstdio>

class JobHistoryReader;

// Output of `pendrill-admin history`, one record at a time as the reader reaches it.

// The JSON array: every stored field of each record, keys in alphabetical order, laid out as
// QJsonDocument lays out an indented array. StartTime and EndTime in local time.
class HistoryJsonWriter {
  public:
    explicit HistoryJsonWriter(FILE* out) : out_(out) {}
    void Begin();
    void Write(const JobHistoryReader& reader);
    void End();

  private:
    FILE* out_;
    bool first_ = true;
};

// The text listing: a heading line per record (id, end time, status in words, kind,
// application) and a line for each field that is set, times in local time with their offset,
// written on `out`.
void PrintHistoryRecord(const JobHistoryReader& reader, FILE* out);
