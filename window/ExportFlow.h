// SPDX-License-Identifier: GPL-3.0-or-later
// Export from the window: the file dialog, the status sheet with progress and Cancel, the worker
// thread that writes the file while holding the render lock, and the outcome (the file written, or
// an alert and the existing file left as it was).
//
// The file dialog is the desktop's own where the XDG desktop portal offers one, with the length
// (the presets, and the length last typed) and the loop box among its choices; else Qt's, with the
// length field, which takes any length typed, and the loop box below it. Either opens in the
// folder last exported to, kept across runs in the settings; else in the user's music folder; else
// at home. Either asks one question, about the file that will be written.
//
// The main thread waits for the worker in the status sheet's modal loop; the worker ends that wait
// through a queued call, which stays in the event queue until the loop takes it, so the end is
// never lost even when the worker finishes before the wait begins.
#pragma once

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "export/ExportLoop.h"
#include "platform/PortalFileChooser.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace brinesong {

class Renderer;
struct ExportFormat;

class ExportFlow : public QObject {
    Q_OBJECT
public:
    // How long a finished export shows its full bar.
    static constexpr int kFullBarMs = 750;

    ExportFlow(Renderer& renderer, std::mutex& renderLock, std::function<bool()> isPlaying,
               QObject* parent = nullptr);
    ~ExportFlow() override;

    // Loads the length field and the status sheet for `window`, their parent. False when either
    // description is missing; the export command then beeps.
    bool load(QWidget* window);

    // Opens the file dialog on the main window and returns at once.
    void saveAs();
    // The desktop's own dialog answers on the bus, and is the one opened.
    bool usesPortal() const { return portal_.available(); }
    // The file dialog has closed: runs the whole export when it was confirmed, and returns when
    // the export has ended.
    void savePanelDidEnd(int returnCode);
    void cancelButton();
    void updateProgress(int percent);
    // Worker thread: hands a percentage to the main thread without waiting.
    void setProgress(int percent);

    bool saving() const { return saving_; }
    // Termination: stop the writer after its current block, or at once where it waits for a
    // reader that has stopped reading.
    void requestAbort() { abortSave_.request(); }
    // A worker has been started and has not finished. It may not hold the render lock yet.
    bool workerRunning() const;
    // Blocks until the worker started last has finished, and joins it.
    void waitForWorker();
    bool saveResult() const { return saveResult_.load(std::memory_order_acquire); }
    bool abortSave() const { return abortSave_.requested(); }

    // The length field's text in minutes, at most 400; none when the text is not a number of
    // minutes (blanks around it aside) or is negative. The number is read as the locale writes
    // it ("2,5" in German), or as the C locale does ("2.5").
    static std::optional<float> lengthMinutes(const QString& text);

    QFileDialog* savePanel() const { return savePanel_; }
    QMessageBox* failureAlert() const { return failureAlert_; }
    QString lastPath() const { return lastPath_; }

    // The folder of the last export, whatever became of it (empty: none yet); the settings keep
    // it from one run to the next.
    QString lastFolder() const { return lastFolder_; }
    void setLastFolder(const QString& folder) { lastFolder_ = folder; }
    // Where the dialog opens: the last folder while it is there, else the user's music folder
    // where there is one, else home.
    QString startFolder() const;
    // The length and the format the dialog offers: as last chosen (the format of the last export),
    // kept from one run to the next in the settings. No length while the field holds none; the
    // format by the name --format takes. A format of no such name is ignored.
    std::optional<float> chosenMinutes() const;
    void setChosenMinutes(float minutes);
    QString chosenFormat() const;
    void setChosenFormat(const QString& name);

    // Outlets.
    QComboBox* lengthComboBox = nullptr;
    QCheckBox* loopCheckBox = nullptr;  // optional: without it no export loops
    QPointer<QWidget> savePanelAccessoryView;
    QPointer<QDialog> saveStatusPanel;
    QProgressBar* saveProgress = nullptr;
    QLabel* saveStatusText = nullptr;
    QPushButton* cancelButtonControl = nullptr;

signals:
    void savingChanged(bool saving);
    // The status sheet is up and the worker has started.
    void writingStarted();
    void exportEnded(bool saved);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Job {
        std::string name;            // full path
        float length;                // minutes, capped at 400
        const ExportFormat* format;  // never null
        bool loop;
    };
    // The file and format an export of the dialog's choice writes: the format the typed name's
    // extension names, else the one of the file-type list, its extension appended.
    std::pair<QString, const ExportFormat*> chosenTarget(const QString& chosen) const;
    const ExportFormat* listedFormat() const;
    void selectListedFilter(const QString& filter);
    // The file dialog's Save: false (the dialog stays open) when the length is no number or the
    // file cannot be exported to (confirmTarget).
    bool confirmChoice();
    // False when `path` cannot be exported to, with a message, or when it exists and the user
    // would not replace it: the one question asked, unless the dialog has `asked` it already.
    bool confirmTarget(const QString& path, const ExportFormat& format, bool asked,
                       QWidget* parent);
    void openSavePanel(const QString& folder, const QString& name);
    void openPortal(const QString& folder, const QString& name);
    // The length the desktop's dialog offers as chosen: the field's, else the first preset.
    float offeredLength() const;
    void portalChosen(const PortalFileChooser::Answer& answer);
    // The file is chosen: writes it, and returns when the export has ended.
    void exportTo(const QString& path, const ExportFormat* format);
    void saveThread(Job job);
    void endModalWait();
    void setSaving(bool saving);
    void showFailureAlert(const ExportFormat& format);

    Renderer& renderer_;
    std::mutex& renderLock_;
    std::function<bool()> isPlaying_;
    QPointer<QWidget> window_;
    QPointer<QFileDialog> savePanel_;
    QPointer<QMessageBox> failureAlert_;
    QString lastPath_;
    QString lastFolder_;
    PortalFileChooser portal_;
    // What the desktop's dialog was last opened with, for Qt's when the portal fails.
    QString portalFolder_;
    QString portalName_;
    bool saving_ = false;
    bool waitEnded_ = false;
    ExportAbort abortSave_;
    std::atomic<bool> saveResult_{false};
    std::atomic<bool> workerFinished_{false};
    // Joined when its export ends, and before this goes: it is never left running with a pointer
    // to this.
    std::thread worker_;
};

}  // namespace brinesong
