#include "util/StopFlags.h"

#include <cstdio>
#include <utility>

#include "util/OperatorInterface.h"

namespace StopFlags {

bool StartInConfigMode = false;
volatile bool StopRequested = false;
volatile bool RemoteStopRequested = false;
volatile bool TerminationSignalled = false;

namespace {
std::function<QString()>& source() {
    static std::function<QString()> s;
    return s;
}
std::function<void(const QString&)>& statusSink() {
    static std::function<void(const QString&)> s;
    return s;
}
std::function<void(const QString&)>& problemSink() {
    static std::function<void(const QString&)> s;
    return s;
}
}  // namespace

void SetProblemSink(std::function<void(const QString&)> sink) {
    problemSink() = std::move(sink);
}

void ReportProblem(const QString& text) {
    if (problemSink())
        problemSink()(text);
    else
        std::fprintf(stderr, "pendrill: %s\n", text.toLocal8Bit().constData());
}

namespace {
QStringList& runLogNotes() {
    static QStringList notes;
    return notes;
}
}  // namespace

void AddRunLogNote(const QString& text) {
    runLogNotes() << text;
}

QStringList TakeRunLogNotes() {
    return std::exchange(runLogNotes(), QStringList());
}

void SetStatusTextSink(std::function<void(const QString&)> sink) {
    statusSink() = std::move(sink);
}

void ShowStatusText(const QString& text) {
    if (statusSink())
        statusSink()(text);
    else
        Operator().SetStatusText(text);
}

void SetExceptionFileSource(std::function<QString()> s) {
    source() = std::move(s);
}

QString ExceptionFileField() {
    return source() ? source()() : QString();
}

}  // namespace StopFlags
