#include "ComboDevicePopUp.h"

#include <QSignalBlocker>

#include "platform/Localization.h"

namespace brinesong {

// What the device list puts into the combo box is never the user's choice, so the box's change
// signals are held back while it does; the user's choice comes through `activated`.

void ComboDevicePopUp::removeAllItems() {
    if (comboBox_) {
        const QSignalBlocker blocker(comboBox_);
        comboBox_->clear();
    }
}

void ComboDevicePopUp::insertItem(const std::string& title, int index) {
    if (comboBox_) {
        const QSignalBlocker blocker(comboBox_);
        comboBox_->insertItem(index, QString::fromStdString(title));
    }
}

int ComboDevicePopUp::numberOfItems() const {
    return comboBox_ ? comboBox_->count() : 0;
}

void ComboDevicePopUp::selectItemAtIndex(int index) {
    if (comboBox_) {
        const QSignalBlocker blocker(comboBox_);
        comboBox_->setCurrentIndex(index);
    }
}

int ComboDevicePopUp::indexOfSelectedItem() const {
    return comboBox_ ? comboBox_->currentIndex() : -1;
}

std::string ComboDevicePopUp::titleOfSelectedItem() const {
    return comboBox_ ? comboBox_->currentText().toStdString() : std::string();
}

void ComboDevicePopUp::setEnabled(bool enabled) {
    if (comboBox_) {
        comboBox_->setEnabled(enabled);
    }
}

void ComboDevicePopUp::showEmpty() {
    if (comboBox_) {
        const QSignalBlocker blocker(comboBox_);
        comboBox_->clear();
        comboBox_->addItem(Texts::tr("No output device"));
        comboBox_->setEnabled(false);
    }
}

}  // namespace brinesong
