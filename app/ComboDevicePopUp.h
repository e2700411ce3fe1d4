// The preferences panel's output-device pop-up as the device list drives it: a combo box, which
// keeps every item even when titles repeat. Main thread only; once the combo box is gone, every
// call does nothing.
#pragma once

#include <QComboBox>
#include <QPointer>

#include "audio/DevicePopUp.h"

namespace brinesong {

class ComboDevicePopUp : public DevicePopUp {
public:
    explicit ComboDevicePopUp(QComboBox* comboBox) : comboBox_(comboBox) {}

    void removeAllItems() override;
    void insertItem(const std::string& title, int index) override;
    int numberOfItems() const override;
    void selectItemAtIndex(int index) override;
    int indexOfSelectedItem() const override;
    std::string titleOfSelectedItem() const override;
    void setEnabled(bool enabled) override;
    void showEmpty() override;

private:
    QPointer<QComboBox> comboBox_;
};

}  // namespace brinesong
