#include "util/ProgramState.h"

namespace ProgramState {

bool StartInConfigMode = false;
volatile bool StopRequested = false;
volatile bool RemoteStopRequested = false;
volatile bool TerminationSignalled = false;

namespace {
std::function<QString()>& source() {
    static std::function<QString()> s;
    return s;
}
}  // namespace

void SetExceptionFileSource(std::function<QString()> s) {
    source() = std::move(s);
}

QString ExceptionFileField() {
    return source() ? source()() : QString();
}

}  // namespace ProgramState
