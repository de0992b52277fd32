#pragma once

#include <QColor>

class QLineEdit;
class QWidget;

// How the input boxes of the editor panels and the connection controls look, in one place.

// Password boxes show "*" for every character typed.
void MakePasswordBox(QLineEdit* box);

// The background of an input box: the base colour of the application's palette when enabled, its
// button-face colour (the colour of inactive borders) when disabled, so both follow the desktop's
// theme, a dark one included.
QColor InputBoxBackground(bool enabled);

// Enables or disables `control`; with `colour` its background becomes InputBoxBackground(enabled).
void ShowControlEnabled(QWidget* control, bool enabled, bool colour);
