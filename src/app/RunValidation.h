#pragma once

#include <QString>

// The report of pendrill -configfile FILE -validate (RunSequence::Validate makes the checks):
// one line per check on standard output, what was checked, then "OK" or the reason it failed.
class RunValidationReport {
  public:
    // Prints "WHAT: OK", or "WHAT: REASON" with the reason's line breaks folded into "; ".
    // Returns `ok`.
    bool Line(const QString& what, bool ok, const QString& reason = QString());
    // Prints whether the run can start, or the exit status it would end with (ExitCodes.h).
    // Returns `status`.
    int End(int status);
};
