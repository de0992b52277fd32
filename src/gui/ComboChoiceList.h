#pragma once

#include <QComboBox>

#include "datasources/ChoiceList.h"

// A drop-down list as the data-source code fills it (database lists of the connection control
// and the SQL Server panel). Clearing also empties the edit text.
class ComboChoiceList : public ChoiceList {
  public:
    explicit ComboChoiceList(QComboBox& box) : box_(box) {}
    void Clear() override {
        box_.clear();
        box_.setEditText(QString());
    }
    void AddItem(const QString& text) override { box_.addItem(text); }
    int Count() const override { return box_.count(); }
    QString ItemText(int index) const override { return box_.itemText(index); }
    QString Text() const override { return box_.currentText(); }
    void SetCurrentIndex(int index) override { box_.setCurrentIndex(index); }
    int CurrentIndex() const override { return box_.currentIndex(); }

  private:
    QComboBox& box_;
};
