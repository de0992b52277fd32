#pragma once

// What the GUI tests share: the Qt classes they drive, message boxes answered as they show,
// combo-box items.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStringList>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QThread>
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
