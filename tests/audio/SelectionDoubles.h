// Stand-ins for the main thread's queue and the panel's pop-up, shared by the device-list tests.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/DevicePopUp.h"
#include "audio/MainThreadQueue.h"
#include "audio/OutputDeviceSelection.h"

namespace brinesong::testing {

// Tasks posted "to the main thread" wait here until the test runs them.
class ManualQueue : public MainThreadQueue {
public:
    void postToMainThread(std::function<void()> task, std::chrono::milliseconds delay) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        delays.push_back(delay);
    }
    size_t size() {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }
    void runAll() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex_);
                if (tasks_.empty()) {
                    return;
                }
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }
    std::vector<std::chrono::milliseconds> delays;

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

class RecordingPopUp : public DevicePopUp {
public:
    void removeAllItems() override {
        items.clear();
        selected = -1;
        placeholder = false;
        ++fills;
    }
    void insertItem(const std::string& title, int index) override {
        items.insert(items.begin() + index, title);
    }
    int numberOfItems() const override { return static_cast<int>(items.size()); }
    void selectItemAtIndex(int index) override { selected = index; }
    int indexOfSelectedItem() const override { return selected; }
    std::string titleOfSelectedItem() const override {
        return selected >= 0 && selected < numberOfItems() ? items[selected] : std::string();
    }
    void setEnabled(bool on) override { enabled = on; }
    void showEmpty() override {
        placeholder = true;
        enabled = false;
    }

    // What the user does: pick an item, the pop-up sends its action.
    void choose(OutputDeviceSelection& selection, int index) {
        selected = index;
        selection.audioOutputPopUpButton();
    }

    std::vector<std::string> items;
    int selected = -1;
    bool enabled = false;
    bool placeholder = false;
    int fills = 0;
};

}  // namespace brinesong::testing
