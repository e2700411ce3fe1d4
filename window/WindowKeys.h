// SPDX-License-Identifier: GPL-3.0-or-later
// Keys a window acts on only when nothing in it took them: a key press that no widget accepted
// goes on to the window, and only then to `action`. An open pop-up keeps its keys too, which Qt
// does not quite do by itself: its combo box closes an open list on the shortcut override of
// Escape and then lets the key press go on to the window, so the key that closed the list would
// also act on the window. The key press that closed a pop-up is therefore told apart (it shares
// its override's timestamp) and goes no further. Main thread only.
#pragma once

#include <QObject>
#include <functional>

class QKeyEvent;
class QPushButton;
class QWidget;

namespace brinesong {

class WindowKeys : public QObject {
    Q_OBJECT
public:
    // `action` is offered each key press that reaches `window` untaken, and returns whether it
    // took it. Lives as long as the window (its child).
    WindowKeys(QWidget* window, std::function<bool(const QKeyEvent&)> action);
    ~WindowKeys() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    std::function<bool(const QKeyEvent&)> action_;
    // The key whose override found a pop-up open, and its timestamp.
    int popupKey_ = 0;
    quint64 popupKeyTime_ = 0;
};

// A panel closes as any window does: by `closeButton` (if any), Ctrl+W, or Escape when nothing in
// it took the key (an open pop-up closes first); F1 runs `help`, as in the main window.
void bindPanelKeys(QWidget* window, QPushButton* closeButton, std::function<void()> help);

}  // namespace brinesong
