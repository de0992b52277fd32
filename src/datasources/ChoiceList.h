#pragma once

#include <QString>
#include <QStringList>

// A list or drop-down list as the data-source code fills it: the model, package and data-link
// lists of the main window and the database and schema boxes of the editor panels. The GUI adapts
// its combo boxes and list widgets to this; StringChoiceList is a plain implementation.
class ChoiceList {
  public:
    virtual ~ChoiceList() = default;
    // Removes every entry and the shown text.
    virtual void Clear() = 0;
    virtual void AddItem(const QString& text) = 0;
    virtual int Count() const = 0;
    virtual QString ItemText(int index) const = 0;
    // The text the control shows: the selected entry, or what was typed into an editable box.
    virtual QString Text() const = 0;
    // Selects an entry; -1 selects none and leaves no text.
    virtual void SetCurrentIndex(int index) = 0;
    virtual int CurrentIndex() const = 0;
};

// A list held in memory (command-line tools, tests, form models).
class StringChoiceList : public ChoiceList {
  public:
    StringChoiceList() = default;
    explicit StringChoiceList(const QStringList& items) : items_(items) {}

    void Clear() override {
        items_.clear();
        current_ = -1;
        text_.clear();
    }
    void AddItem(const QString& text) override { items_ << text; }
    int Count() const override { return static_cast<int>(items_.size()); }
    QString ItemText(int index) const override { return items_.value(index); }
    QString Text() const override { return text_; }
    void SetCurrentIndex(int index) override {
        current_ = index >= 0 && index < Count() ? index : -1;
        text_ = current_ >= 0 ? items_.at(current_) : QString();
    }
    int CurrentIndex() const override { return current_; }
    // Types a text into the box, as into an editable drop-down list; no entry is selected.
    void SetText(const QString& text) {
        text_ = text;
        current_ = -1;
    }
    const QStringList& Items() const { return items_; }

  private:
    QStringList items_;
    int current_ = -1;
    QString text_;
};
