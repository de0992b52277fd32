#pragma once

class JobHistoryReader;

// Output of `pendrill-admin history`, one record at a time as the reader reaches it.

// The JSON array: every stored field of each record, keys in alphabetical order, laid out as
// QJsonDocument lays out an indented array. StartTime and EndTime in local time.
class HistoryJsonWriter {
  public:
    void Begin();
    void Write(const JobHistoryReader& reader);
    void End();

  private:
    bool first_ = true;
};

// The text listing: a heading line per record (id, end time, status in words, kind,
// application) and a line for each field that is set, times in local time with their offset.
void PrintHistoryRecord(const JobHistoryReader& reader);
