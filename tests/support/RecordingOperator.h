#pragma once

#include <QStringList>

#include "util/OperatorInterface.h"

// Everything the code under test asks of the person in front of it, in order. Message boxes are
// kept as "style|title|text".
class RecordingOperator : public OperatorInterface {
  public:
    void ProcessPendingEvents() override { ++events; }
    void ShowMessageBox(const QString& text, int style, const QString& title) override {
        boxes << QStringLiteral("%1|%2|%3").arg(style).arg(title, text);
    }
    void SetStatusText(const QString& text) override { status = text; }

    QStringList boxes;
    QString status;
    int events = 0;
};
