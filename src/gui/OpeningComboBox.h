#pragma once

#include <QComboBox>
#include <functional>

// A drop-down list that tells its owner when its list is about to open (so that the owner can
// refill it first) and when it has closed.
class OpeningComboBox : public QComboBox {
  public:
    using QComboBox::QComboBox;
    std::function<void()> opening;
    std::function<void()> closed;

    void showPopup() override {
        if (opening)
            opening();
        QComboBox::showPopup();
    }
    void hidePopup() override {
        QComboBox::hidePopup();
        if (closed)
            closed();
    }
};
