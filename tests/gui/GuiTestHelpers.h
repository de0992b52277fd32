#pragma once

// Helpers shared by the GUI tests: message boxes answered as they show, combo-box items.

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

// Answers every message box as soon as it shows and remembers "icon|title|text".
class BoxAnswerer {
  public:
    BoxAnswerer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << QStringLiteral("%1|%2|%3")
                             .arg(int(box->icon()))
                             .arg(box->windowTitle(), box->text());
                box->accept();
            }
        });
        timer_.start(10);
    }
    QStringList boxes;

  private:
    QTimer timer_;
};

inline QStringList comboItems(const QComboBox* box) {
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}
