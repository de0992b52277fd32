#include "gui/AnimationWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

AnimationWindow::AnimationWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("AnimationWindow"));
    setFixedSize(300, 172);

    lblDetails = new QLabel(this);
    lblDetails->setObjectName(QStringLiteral("lblDetails"));
    lblDetails->setGeometry(8, 62, 284, 52);
    lblDetails->setWordWrap(true);
    lblDetails->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    prgCopyFiles = new QProgressBar(this);
    prgCopyFiles->setObjectName(QStringLiteral("prgCopyFiles"));
    prgCopyFiles->setGeometry(8, 118, 284, 14);
    prgCopyFiles->setRange(0, 100);
    prgCopyFiles->setValue(0);
    prgCopyFiles->setTextVisible(false);

    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(204, 138, 88, 26);

    tmrProgress.setInterval(BusyInterval);
    connect(&tmrProgress, &QTimer::timeout, this, &AnimationWindow::tmrProgress_Timer);
    connect(cmdCancel, &QPushButton::clicked, this, &AnimationWindow::cmdCancel_Click);
}

void AnimationWindow::tmrProgress_Timer() {
    PrgCounter += BusyStep;
    if (PrgCounter > 100)
        PrgCounter = 0;
    QApplication::processEvents();
    prgCopyFiles->setValue(PrgCounter);
}

void AnimationWindow::cmdCancel_Click() {
    Q_EMIT Cancelled();
    hide();
}

void AnimationWindow::keyPressEvent(QKeyEvent* event) {
    // Escape does what Cancel does, when there is a Cancel button.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (cmdCancel->isVisible())
            cmdCancel->click();
        return;
    }
    QWidget::keyPressEvent(event);
}
