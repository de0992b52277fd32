#include "util/OperatorInterface.h"

#include <QCoreApplication>

namespace {
HeadlessOperator& headless() {
    static HeadlessOperator op;
    return op;
}
OperatorInterface* current = nullptr;
}  // namespace

std::unique_ptr<CopyProgress> OperatorInterface::CreateCopyProgress() {
    return std::make_unique<HeadlessCopyProgress>();
}

void HeadlessOperator::ProcessPendingEvents() {
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::processEvents();
}

void HeadlessOperator::ShowMessageBox(const QString&, int, const QString&) {}

void HeadlessOperator::SetStatusText(const QString& text) {
    status_ = text;
}

OperatorInterface& Operator() {
    return current != nullptr ? *current : headless();
}

void SetOperator(OperatorInterface* op) {
    current = op;
}
