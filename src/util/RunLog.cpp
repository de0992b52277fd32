#include "util/RunLog.h"

#include <filesystem>

#include "util/FileUtils.h"
#include "util/OperatorInterface.h"
#include "util/RunTargets.h"
#include "util/TextFiles.h"

void LogMessage(const QString& text, bool showMessageBox, int style, const QString& title) {
    OperatorInterface& op = Operator();
    op.ProcessPendingEvents();
    if (RunTargets::Current().interactive && showMessageBox)
        op.ShowMessageBox(text, style, title);
    const QString logFile = RunTargets::ExceptionFileField();
    if (!logFile.isEmpty())
        AppendLines(logFile, text);
    RunTargets::ShowStatusText(text);
    op.ProcessPendingEvents();
}

void LogInfo(const QString& text) {
    LogMessage(text, false, 0, QString());
}

void MakeDirectory(const QString& directory) {
    if (directory.trimmed().isEmpty())
        return;
    std::error_code ec;
    std::filesystem::create_directories(ToFsPath(directory), ec);
}
