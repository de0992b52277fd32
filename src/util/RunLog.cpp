#include "util/RunLog.h"

#include <QSet>
#include <cerrno>
#include <cstdio>

#include "util/OperatorInterface.h"
#include "util/TextFiles.h"

void RunLog::Message(const QString& text, bool showMessageBox, int style,
                     const QString& title) const {
    OperatorInterface& op = Operator();
    op.ProcessPendingEvents();
    if (interactive && showMessageBox)
        op.ShowMessageBox(text, style, title);
    const QString logFile = FileName();
    QString why;
    if (!logFile.isEmpty() && !AppendLines(logFile, text, &why))
        ReportUnwritable(logFile, why);
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

void RunLog::ReportUnwritable(const QString& file, const QString& why) {
    static QSet<QString> told;
    if (told.contains(file))
        return;
    told.insert(file);
    std::fprintf(stderr, "%s: cannot write the run log %s: %s\n", program_invocation_short_name,
                 file.toLocal8Bit().constData(), why.toLocal8Bit().constData());
    std::fflush(stderr);
}
