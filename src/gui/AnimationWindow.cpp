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

    detailsLabel = new QLabel(this);
    detailsLabel->setObjectName(QStringLiteral("detailsLabel"));
    detailsLabel->setGeometry(8, 62, 284, 52);
    detailsLabel->setWordWrap(true);
    detailsLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setGeometry(8, 118, 284, 14);
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);

    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setGeometry(204, 138, 88, 26);

    progressTimer.setInterval(BusyInterval);
    connect(&progressTimer, &QTimer::timeout, this, &AnimationWindow::AdvanceBusyBar);
    connect(cancelButton, &QPushButton::clicked, this, &AnimationWindow::CancelClicked);
}

void AnimationWindow::AdvanceBusyBar() {
    busyValue += BusyStep;
    if (busyValue > 100)
        busyValue = 0;
    QApplication::processEvents();
    progressBar->setValue(busyValue);
}

void AnimationWindow::CancelClicked() {
    Q_EMIT Cancelled();
    hide();
}

void AnimationWindow::keyPressEvent(QKeyEvent* event) {
    // Escape does what Cancel does, when there is a Cancel button.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (cancelButton->isVisible())
            cancelButton->click();
        return;
    }
    QWidget::keyPressEvent(event);
}
