#include "util/RunLog.h"

#include "util/OperatorInterface.h"
#include "util/TextFiles.h"

void RunLog::Message(const QString& text, bool showMessageBox, int style,
                     const QString& title) const {
    OperatorInterface& op = Operator();
    op.ProcessPendingEvents();
    if (interactive && showMessageBox)
        op.ShowMessageBox(text, style, title);
    const QString logFile = FileName();
    if (!logFile.isEmpty())
        AppendLines(logFile, text);
    ShowStatus(text);
    op.ProcessPendingEvents();
}

void RunLog::Info(const QString& text) const {
    Message(text, false, 0, QString());
}

void RunLog::ShowStatus(const QString& text) const {
    if (statusText)
        statusText(text);
    else
        Operator().SetStatusText(text);
}

QString RunLog::FileName() const {
    return file ? file() : QString();
}
