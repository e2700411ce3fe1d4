// The output-device pop-up of the preferences panel, as the device list drives it. Main thread
// only.
//
// Items are addressed by index, and an implementation must keep every inserted item even when
// titles repeat: the index of an item is the index of its entry in the device list.
#pragma once

#include <string>

namespace brinesong {

class DevicePopUp {
public:
    virtual ~DevicePopUp() = default;
    virtual void removeAllItems() = 0;
    virtual void insertItem(const std::string& title, int index) = 0;
    virtual int numberOfItems() const = 0;
    virtual void selectItemAtIndex(int index) = 0;
    virtual int indexOfSelectedItem() const = 0;  // -1 when nothing is selected
    virtual std::string titleOfSelectedItem() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    // There is no output device: one disabled placeholder item, whose (translated) text is the
    // panel's to choose.
    virtual void showEmpty() = 0;
};

}  // namespace brinesong
