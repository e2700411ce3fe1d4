#include "ExportFlow.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <chrono>
#include <cmath>
#include <thread>

#include "InterfaceLoader.h"
#include "export/ExportJob.h"
#include "platform/Localization.h"

namespace brinesong {

ExportFlow::ExportFlow(Renderer& renderer, std::mutex& renderLock, std::function<bool()> isPlaying,
                       QObject* parent)
    : QObject(parent),
      renderer_(renderer),
      renderLock_(renderLock),
      isPlaying_(std::move(isPlaying)) {}

ExportFlow::~ExportFlow() {
    delete savePanel_.data();
    delete saveStatusPanel.data();
}

bool ExportFlow::load(QWidget* window) {
    window_ = window;
    QWidget* accessory = loadInterface(QStringLiteral("SaveAccessory"));
    QWidget* status = loadInterface(QStringLiteral("SaveStatus"), window);
    auto* statusDialog = qobject_cast<QDialog*>(status);
    lengthComboBox = outlet<QComboBox>(accessory, "lengthComboBox");
    saveProgress = outlet<QProgressBar>(status, "saveProgress");
    saveStatusText = outlet<QLabel>(status, "saveStatusText");
    cancelButtonControl = outlet<QPushButton>(status, "cancelButton");
    if (!lengthComboBox || !statusDialog || !saveProgress || !saveStatusText) {
        delete accessory;
        delete status;
        lengthComboBox = nullptr;
        saveProgress = nullptr;
        saveStatusText = nullptr;
        cancelButtonControl = nullptr;
        return false;
    }
    savePanelAccessoryView = accessory;
    saveStatusPanel = statusDialog;
    saveStatusPanel->setWindowModality(Qt::WindowModal);
    saveStatusPanel->installEventFilter(this);
    if (cancelButtonControl) {
        connect(cancelButtonControl, &QPushButton::clicked, this, &ExportFlow::cancelButton);
    }
    for (float minutes : kExportLengthPresets) {
        lengthComboBox->addItem(QString::number(minutes));
    }
    lengthComboBox->setCurrentIndex(0);

    savePanel_ = new QFileDialog(window, Texts::tr("Export AIFF File"));
    savePanel_->setOption(QFileDialog::DontUseNativeDialog);
    savePanel_->setAcceptMode(QFileDialog::AcceptSave);
    savePanel_->setFileMode(QFileDialog::AnyFile);
    savePanel_->setNameFilter(Texts::tr("AIFF files (*.aif *.aiff)"));
    savePanel_->setDefaultSuffix(QStringLiteral("aif"));
    savePanel_->setWindowModality(Qt::WindowModal);
    if (auto* grid = qobject_cast<QGridLayout*>(savePanel_->layout())) {
        grid->addWidget(accessory, grid->rowCount(), 0, 1, grid->columnCount());
    }
    // Queued: the export runs its own modal wait, which is best begun from the main loop rather
    // than from inside the dialog's own closing.
    connect(savePanel_, &QFileDialog::finished, this, &ExportFlow::savePanelDidEnd,
            Qt::QueuedConnection);
    return true;
}

float ExportFlow::lengthMinutes(const QString& text) {
    static const QRegularExpression leadingNumber(
        QStringLiteral(R"(^\s*([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?))"));
    const QRegularExpressionMatch match = leadingNumber.match(text);
    if (!match.hasMatch()) {
        return 0.0f;
    }
    float minutes = match.captured(1).toFloat();
    // A negative length would reach the writer as one it cannot bound; it counts as none.
    if (!(minutes > 0.0f)) {
        return 0.0f;
    }
    return std::min(minutes, kMaxExportMinutes);
}

void ExportFlow::setSaving(bool saving) {
    saving_ = saving;
    emit savingChanged(saving);
}

void ExportFlow::saveAs() {
    if (!savePanel_) {
        QApplication::beep();
        return;
    }
    if (saving_ || isPlaying_()) {
        return;
    }
    setSaving(true);
    lengthComboBox->setToolTip(
        Texts::tr("Set the length of AIFF file in minutes (up to 400 minutes)"));
    if (auto* list = qobject_cast<QListView*>(lengthComboBox->view())) {
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    if (window_) {
        window_->raise();
        window_->activateWindow();
    }
    savePanel_->selectFile(QStringLiteral("Brinesong"));
    savePanel_->open();
}

void ExportFlow::savePanelDidEnd(int returnCode) {
    savePanel_->hide();
    const QString chosen = savePanel_->selectedFiles().value(0);
    if (returnCode != QDialog::Accepted || chosen.isEmpty()) {
        setSaving(false);
        return;
    }
    const float minutes = lengthMinutes(lengthComboBox->currentText());
    const QString path = QString::fromStdString(withAiffExtension(chosen.toStdString()));
    lastPath_ = path;

    saveStatusText->setText(Texts::tr("Saving %1...").arg(QFileInfo(path).fileName()));
    saveProgress->setValue(0);
    abortSave_.store(false, std::memory_order_relaxed);
    saveResult_.store(false, std::memory_order_relaxed);
    waitEnded_ = false;

    std::promise<void> finished;
    workerDone_ = finished.get_future();
    std::thread(&ExportFlow::saveThread, this, Job{path.toStdString(), minutes},
                std::move(finished))
        .detach();
    QMetaObject::invokeMethod(this, &ExportFlow::writingStarted, Qt::QueuedConnection);
    if (!waitEnded_) {
        saveStatusPanel->exec();
    }
    if (!waitEnded_) {
        // The wait was ended by the application quitting, not by the worker: stop the writer and
        // let it finish before the outcome, so no file is removed while it is still written.
        abortSave_.store(true, std::memory_order_relaxed);
        waitForWorker();
    }
    saveStatusPanel->hide();

    const bool saved = saveResult_.load(std::memory_order_acquire);
    if (!saved) {
        if (!abortSave_.load(std::memory_order_relaxed)) {
            showFailureAlert();
        }
        removeFailedExport(path.toStdString());
    }
    setSaving(false);
    emit exportEnded(saved);
}

void ExportFlow::showFailureAlert() {
    const QString text = Texts::tr("Faild to save an AIFF file.");
    auto* alert = new QMessageBox(QMessageBox::Warning, text, text, QMessageBox::Ok, window_);
    alert->button(QMessageBox::Ok)->setText(Texts::tr("OK"));
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    failureAlert_ = alert;
    alert->open();  // nothing waits for it
}

void ExportFlow::saveThread(Job job, std::promise<void> finished) {
    std::lock_guard<std::mutex> lock(renderLock_);
    ExportHooks hooks;
    hooks.setProgress = [this](int percent) { setProgress(percent); };
    hooks.abortSave = &abortSave_;
    const ExportOutcome outcome =
        exportToFile(renderer_, job.name, exportSeconds(job.length), hooks);
    saveResult_.store(outcome.saved, std::memory_order_release);
    if (outcome.saved) {
        setProgress(100);
        std::this_thread::sleep_for(std::chrono::milliseconds(kFullBarMs));
    }
    QMetaObject::invokeMethod(this, &ExportFlow::endModalWait, Qt::QueuedConnection);
    finished.set_value();
}

bool ExportFlow::workerRunning() const {
    return workerDone_.valid() &&
           workerDone_.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

void ExportFlow::waitForWorker() {
    if (workerDone_.valid()) {
        workerDone_.wait();
    }
}

void ExportFlow::endModalWait() {
    waitEnded_ = true;
    if (saveStatusPanel && saveStatusPanel->isVisible()) {
        saveStatusPanel->done(QDialog::Accepted);
    }
}

void ExportFlow::setProgress(int percent) {
    QMetaObject::invokeMethod(
        this, [this, percent] { updateProgress(percent); }, Qt::QueuedConnection);
}

void ExportFlow::updateProgress(int percent) {
    if (saveProgress) {
        saveProgress->setValue(percent);
    }
}

void ExportFlow::cancelButton() {
    abortSave_.store(true, std::memory_order_relaxed);
}

bool ExportFlow::eventFilter(QObject* watched, QEvent* event) {
    // Escape and the window's close button act as Cancel; the sheet itself closes only when the
    // worker has ended.
    if (watched == saveStatusPanel && !waitEnded_) {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            cancelButton();
            return true;
        }
        if (event->type() == QEvent::Close) {
            cancelButton();
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace brinesong
