#include "util/RunTargets.h"

#include <cstdio>
#include <utility>

#include "util/RunLog.h"

namespace RunTargets {

namespace {
QStringList& runLogNotes() {
    static QStringList notes;
    return notes;
}
}  // namespace

Targets& Current() {
    static Targets targets;
    return targets;
}

const RunLog& WindowRunLog() {
    static const RunLog operatorOnly;
    return Current().windowRunLog != nullptr ? *Current().windowRunLog : operatorOnly;
}

void ReportProblem(const QString& text) {
    if (Current().problem)
        Current().problem(text);
    else
        std::fprintf(stderr, "pendrill: %s\n", text.toLocal8Bit().constData());
}

void AddRunLogNote(const QString& text) {
    runLogNotes() << text;
}

QStringList TakeRunLogNotes() {
    return std::exchange(runLogNotes(), QStringList());
}

}  // namespace RunTargets
