#include "gui/InputBoxes.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPalette>

void MakePasswordBox(QLineEdit* box) {
    box->setEchoMode(QLineEdit::Password);
    box->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
}

QColor InputBoxBackground(bool enabled) {
    const QPalette palette = QGuiApplication::palette();
    return enabled ? palette.color(QPalette::Active, QPalette::Base)
                   : palette.color(QPalette::Active, QPalette::Button);
}

void ShowControlEnabled(QWidget* control, bool enabled, bool colour) {
    if (control == nullptr)
        return;
    control->setEnabled(enabled);
    if (!colour)
        return;
    QPalette p = control->palette();
    p.setColor(QPalette::Base, InputBoxBackground(enabled));
    control->setPalette(p);
}
