// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExportFlow.h"

#include <poll.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <thread>

#include "export/ExportFormat.h"
#include "export/ExportJob.h"
#include "model/ProgramTexts.h"
#include "platform/Localization.h"
#include "window/InterfaceLoader.h"

namespace brinesong {

namespace {

// The name the dialog offers.
QString defaultName() {
    return QStringLiteral("Brinesong");
}

// The file dialog, which asks the export flow before it accepts a choice: a refused choice keeps
// the dialog open.
class SavePanel : public QFileDialog {
public:
    SavePanel(QWidget* parent, const QString& caption, std::function<bool()> confirm)
        : QFileDialog(parent, caption), confirm_(std::move(confirm)) {}

    void accept() override {
        if (confirm_()) {
            QFileDialog::accept();
        }
    }

private:
    std::function<bool()> confirm_;
};

}  // namespace

ExportFlow::ExportFlow(Renderer& renderer, std::mutex& renderLock, std::function<bool()> isPlaying,
                       QObject* parent)
    : QObject(parent),
      renderer_(renderer),
      renderLock_(renderLock),
      isPlaying_(std::move(isPlaying)) {
    connect(&portal_, &PortalFileChooser::chosen, this, &ExportFlow::portalChosen);
    connect(&portal_, &PortalFileChooser::cancelled, this, [this] { setSaving(false); });
    // The portal did not take the request, or went away: Qt's dialog asks instead.
    connect(&portal_, &PortalFileChooser::failed, this, [this] {
        if (saving_) {
            openSavePanel(portalFolder_, portalName_);
        }
    });
}

ExportFlow::~ExportFlow() {
    requestAbort();
    waitForWorker();
    delete savePanel_.data();
    delete saveStatusPanel.data();
}

bool ExportFlow::load(QWidget* window) {
    window_ = window;
    QWidget* accessory = loadInterface(QStringLiteral("SaveAccessory"));
    QWidget* status = loadInterface(QStringLiteral("SaveStatus"), window);
    auto* statusDialog = qobject_cast<QDialog*>(status);
    lengthComboBox = outlet<QComboBox>(accessory, "lengthComboBox");
    loopCheckBox = outlet<QCheckBox>(accessory, "loopCheckBox");
    saveProgress = outlet<QProgressBar>(status, "saveProgress");
    saveStatusText = outlet<QLabel>(status, "saveStatusText");
    cancelButtonControl = outlet<QPushButton>(status, "cancelButton");
    if (!lengthComboBox || !statusDialog || !saveProgress || !saveStatusText) {
        delete accessory;
        delete status;
        lengthComboBox = nullptr;
        loopCheckBox = nullptr;
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
        lengthComboBox->addItem(QLocale().toString(static_cast<double>(minutes)));
    }
    lengthComboBox->setCurrentIndex(0);
    // What is typed is what is used: inline completion would turn "4" into "45", and a typed
    // length is not added to the presets.
    lengthComboBox->setCompleter(nullptr);
    lengthComboBox->setInsertPolicy(QComboBox::NoInsert);

    savePanel_ =
        new SavePanel(window, Texts::tr("Export Sound File"), [this] { return confirmChoice(); });
    savePanel_->setOption(QFileDialog::DontUseNativeDialog);
    // The dialog would ask about the name as typed, which may not be the file written (the
    // extension rule may add one): the question is asked in confirmChoice, about the real one.
    savePanel_->setOption(QFileDialog::DontConfirmOverwrite);
    savePanel_->setAcceptMode(QFileDialog::AcceptSave);
    savePanel_->setFileMode(QFileDialog::AnyFile);
    // One entry per format in the file-type list, AIFF first and chosen; the name typed gets the
    // chosen type's extension.
    QStringList filters;
    for (const ExportFormat* format : exportFormats()) {
        QStringList patterns;
        for (const std::string_view extension : format->extensions) {
            if (!extension.empty()) {
                patterns << QStringLiteral("*.") +
                                QString::fromUtf8(extension.data(), qsizetype(extension.size()));
            }
        }
        filters << Texts::tr("%1 files (%2)")
                       .arg(
                           QString::fromUtf8(format->title.data(), qsizetype(format->title.size())),
                           patterns.join(QLatin1Char(' ')));
    }
    savePanel_->setNameFilters(filters);
    savePanel_->setDefaultSuffix(QStringLiteral("aif"));
    connect(savePanel_, &QFileDialog::filterSelected, this, &ExportFlow::selectListedFilter);
    savePanel_->setWindowModality(Qt::WindowModal);
    if (auto* grid = qobject_cast<QGridLayout*>(savePanel_->layout())) {
        grid->addWidget(accessory, grid->rowCount(), 0, 1, grid->columnCount());
    }
    // Queued: the export runs its own modal wait, which is best begun from the main loop rather
    // than from inside the dialog's own closing.
    connect(savePanel_, &QFileDialog::finished, this, &ExportFlow::savePanelDidEnd,
            Qt::QueuedConnection);
    portal_.probe();
    return true;
}

void ExportFlow::selectListedFilter(const QString& filter) {
    if (savePanel_->selectedNameFilter() != filter) {
        savePanel_->selectNameFilter(filter);
    }
    const std::string_view extension = listedFormat()->extensions[0];
    savePanel_->setDefaultSuffix(QString::fromUtf8(extension.data(), qsizetype(extension.size())));
}

std::optional<float> ExportFlow::lengthMinutes(const QString& text) {
    const QString number = text.trimmed();
    // Without group separators: "2.5" in a German window is two and a half, not 25.
    QLocale local;
    local.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    float minutes = local.toFloat(number, &ok);
    if (!ok) {
        minutes = QLocale::c().toFloat(number, &ok);
    }
    // A negative length would reach the writer as one it cannot bound.
    if (!ok || !(minutes >= 0.0f)) {
        return std::nullopt;
    }
    return std::min(minutes, kMaxExportMinutes);
}

bool ExportFlow::confirmChoice() {
    if (!lengthMinutes(lengthComboBox->currentText())) {
        QMessageBox box(QMessageBox::Warning, Texts::tr("Export Sound File"),
                        Texts::tr("The length must be a number of minutes (up to 400)."),
                        QMessageBox::Ok, savePanel_);
        box.button(QMessageBox::Ok)->setText(Texts::tr("OK"));
        box.exec();
        lengthComboBox->setFocus();
        lengthComboBox->lineEdit()->selectAll();
        return false;
    }
    const QString chosen = savePanel_->selectedFiles().value(0);
    if (chosen.isEmpty()) {
        return true;
    }
    const auto [path, format] = chosenTarget(chosen);
    return confirmTarget(path, *format, false, savePanel_);
}

bool ExportFlow::confirmTarget(const QString& path, const ExportFormat& format, bool asked,
                               QWidget* parent) {
    const QFileInfo real(path);
    const TargetRefusal refusal = targetRefusal(path.toStdString(), format);
    if (refusal != TargetRefusal::None) {
        QMessageBox box(QMessageBox::Warning, Texts::tr("Export Sound File"),
                        targetRefusalText(refusal, real.fileName(), format), QMessageBox::Ok,
                        parent);
        box.button(QMessageBox::Ok)->setText(Texts::tr("OK"));
        box.exec();
        return false;
    }
    if (!asked && (real.exists() || real.isSymLink())) {
        QMessageBox box(
            QMessageBox::Warning, Texts::tr("Export Sound File"),
            Texts::tr("%1 already exists.\nDo you want to replace it?").arg(real.fileName()),
            QMessageBox::Yes | QMessageBox::No, parent);
        box.button(QMessageBox::Yes)->setText(Texts::tr("Yes"));
        box.button(QMessageBox::No)->setText(Texts::tr("No"));
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }
    return true;
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
        Texts::tr("Set the length of the file in minutes (up to 400 minutes)"));
    if (auto* list = qobject_cast<QListView*>(lengthComboBox->view())) {
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    if (window_) {
        window_->raise();
        window_->activateWindow();
    }
    if (portal_.available()) {
        openPortal(startFolder(), defaultName());
    } else {
        // Asked again for the next export: a portal may have come since the launch.
        portal_.probe();
        openSavePanel(startFolder(), defaultName());
    }
}

QString ExportFlow::startFolder() const {
    if (!lastFolder_.isEmpty() && QFileInfo(lastFolder_).isDir()) {
        return lastFolder_;
    }
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir()) {
        return music;
    }
    return QDir::homePath();
}

std::optional<float> ExportFlow::chosenMinutes() const {
    return lengthComboBox ? lengthMinutes(lengthComboBox->currentText()) : std::nullopt;
}

void ExportFlow::setChosenMinutes(float minutes) {
    if (lengthComboBox) {
        lengthComboBox->setCurrentText(QLocale().toString(double(minutes)));
    }
}

QString ExportFlow::chosenFormat() const {
    return savePanel_ ? QString::fromUtf8(listedFormat()->name.data(),
                                          qsizetype(listedFormat()->name.size()))
                      : QString();
}

void ExportFlow::setChosenFormat(const QString& name) {
    const auto formats = exportFormats();
    const auto format = std::find(formats.begin(), formats.end(), formatNamed(name.toStdString()));
    if (savePanel_ && !name.isEmpty() && format != formats.end()) {
        selectListedFilter(savePanel_->nameFilters().value(int(format - formats.begin())));
    }
}

void ExportFlow::openSavePanel(const QString& folder, const QString& name) {
    savePanel_->setDirectory(folder);
    savePanel_->selectFile(name);
    savePanel_->open();
}

void ExportFlow::openPortal(const QString& folder, const QString& name) {
    portalFolder_ = folder;
    portalName_ = name;
    PortalFileChooser::SaveRequest request;
    // The desktop puts its dialog over the main window. Under X11 the portal knows a window by its
    // id; Wayland would need a handle exported for it, which this Qt does not offer.
    if (window_ && QGuiApplication::platformName() == QLatin1String("xcb")) {
        request.parentWindow = QStringLiteral("x11:%1").arg(quint64(window_->winId()), 0, 16);
    }
    request.title = Texts::tr("Export Sound File");
    request.currentName = name;
    request.currentFolder = folder;
    const QStringList names = savePanel_->nameFilters();
    const auto formats = exportFormats();
    for (size_t i = 0; i < formats.size() && i < size_t(names.size()); ++i) {
        PortalFilter filter{names[qsizetype(i)], {}};
        for (const std::string_view extension : formats[i]->extensions) {
            if (!extension.empty()) {
                filter.rules.append(
                    {0, QStringLiteral("*.") +
                            QString::fromUtf8(extension.data(), qsizetype(extension.size()))});
            }
        }
        request.filters.append(filter);
    }
    request.currentFilter = int(names.indexOf(savePanel_->selectedNameFilter()));

    // The length is chosen from the presets and the length last typed in Qt's dialog, if that
    // was another; the desktop's dialog has no field to type one.
    PortalChoice length{QStringLiteral("length"), Texts::tr("Length in minutes:"), {}, {}};
    const float current = offeredLength();
    std::vector<float> lengths(std::begin(kExportLengthPresets), std::end(kExportLengthPresets));
    if (std::find(lengths.begin(), lengths.end(), current) == lengths.end()) {
        lengths.insert(std::upper_bound(lengths.begin(), lengths.end(), current), current);
    }
    for (const float minutes : lengths) {
        length.options.append(
            {QString::number(double(minutes)), QLocale().toString(double(minutes))});
    }
    length.selected = QString::number(double(current));
    request.choices.append(length);
    if (loopCheckBox) {
        request.choices.append(
            {QStringLiteral("loop"),
             loopCheckBox->text(),
             {},
             loopCheckBox->isChecked() ? QStringLiteral("true") : QStringLiteral("false")});
    }
    portal_.saveFile(request);
}

float ExportFlow::offeredLength() const {
    return lengthMinutes(lengthComboBox->currentText()).value_or(kExportLengthPresets[0]);
}

void ExportFlow::portalChosen(const PortalFileChooser::Answer& answer) {
    if (!saving_) {
        return;
    }
    // A refused answer opens the desktop's dialog again where it was, with nothing written.
    const QFileInfo chosen(answer.path);
    const auto refuse = [this](const QString& why, const QString& folder, const QString& name) {
        QMessageBox box(QMessageBox::Warning, Texts::tr("Export Sound File"), why, QMessageBox::Ok,
                        window_);
        box.button(QMessageBox::Ok)->setText(Texts::tr("OK"));
        box.exec();
        openPortal(folder, name);
    };
    // The length is one of those offered, as far as the portal goes; anything else it answers is
    // held to what the length field takes. No answer keeps the one offered.
    const auto length = answer.choices.constFind(QStringLiteral("length"));
    const std::optional<float> minutes =
        length == answer.choices.cend() ? offeredLength() : lengthMinutes(*length);
    if (!minutes) {
        refuse(Texts::tr("The length must be a number of minutes (up to 400)."),
               chosen.absolutePath(), chosen.fileName());
        return;
    }
    // A folder would become a hidden ".aif" inside it, or a file beside it of its name.
    if (answer.path.endsWith(QLatin1Char('/')) || chosen.isDir()) {
        const QString folder = QDir::cleanPath(answer.path);
        refuse(Texts::tr("%1 is a folder; choose a name for the file.").arg(folder), folder,
               defaultName());
        return;
    }
    // What was chosen stays chosen for the next dialog, of either kind.
    lengthComboBox->setCurrentText(QLocale().toString(double(*minutes)));
    if (loopCheckBox && answer.choices.contains(QStringLiteral("loop"))) {
        loopCheckBox->setChecked(answer.choices.value(QStringLiteral("loop")) ==
                                 QLatin1String("true"));
    }
    if (savePanel_->nameFilters().contains(answer.filter)) {
        selectListedFilter(answer.filter);
    }
    const auto [path, format] = chosenTarget(answer.path);
    // The desktop's dialog has asked about the file it returns, if that exists; a file of
    // another name (the extension rule's) is asked about here. A refusal, or a No, opens the
    // dialog again where it was.
    if (!confirmTarget(path, *format, path == answer.path, window_)) {
        openPortal(chosen.absolutePath(), chosen.fileName());
        return;
    }
    exportTo(path, format);
}

void ExportFlow::savePanelDidEnd(int returnCode) {
    savePanel_->hide();
    const QString chosen = savePanel_->selectedFiles().value(0);
    if (returnCode != QDialog::Accepted || chosen.isEmpty()) {
        setSaving(false);
        return;
    }
    const auto [path, format] = chosenTarget(chosen);
    exportTo(path, format);
}

void ExportFlow::exportTo(const QString& path, const ExportFormat* format) {
    const float minutes = lengthMinutes(lengthComboBox->currentText()).value_or(0.0f);
    const bool loop = loopCheckBox && loopCheckBox->isChecked();
    lastPath_ = path;
    lastFolder_ = QFileInfo(path).absolutePath();
    setChosenFormat(QString::fromUtf8(format->name.data(), qsizetype(format->name.size())));

    saveStatusText->setText(Texts::tr("Saving %1...").arg(QFileInfo(path).fileName()));
    saveProgress->setValue(0);
    waitForWorker();  // the last export's, joined when it ended
    abortSave_.reset();
    saveResult_.store(false, std::memory_order_relaxed);
    workerFinished_.store(false, std::memory_order_relaxed);
    waitEnded_ = false;

    worker_ = std::thread(&ExportFlow::saveThread, this,
                          Job{QFile::encodeName(path).toStdString(), minutes, format, loop});
    QMetaObject::invokeMethod(this, &ExportFlow::writingStarted, Qt::QueuedConnection);
    if (!waitEnded_) {
        saveStatusPanel->exec();
    }
    if (!waitEnded_) {
        // The wait was ended by the application quitting, not by the worker: stop the writer, so
        // the outcome is known before the sheet goes.
        requestAbort();
    }
    waitForWorker();
    saveStatusPanel->hide();

    // A failed or cancelled export has left the file as it was (the writer wrote beside it).
    const bool saved = saveResult_.load(std::memory_order_acquire);
    if (!saved && !abortSave_.requested()) {
        showFailureAlert(*format);
    }
    setSaving(false);
    emit exportEnded(saved);
}

const ExportFormat* ExportFlow::listedFormat() const {
    const int index = savePanel_->nameFilters().indexOf(savePanel_->selectedNameFilter());
    const auto formats = exportFormats();
    return index > 0 && size_t(index) < formats.size() ? formats[size_t(index)] : formats[0];
}

std::pair<QString, const ExportFormat*> ExportFlow::chosenTarget(const QString& chosen) const {
    // The file system's bytes for the name, as the dialog's own listing decodes them.
    const std::string path = QFile::encodeName(chosen).toStdString();
    const ExportTarget target = exportTarget(path, formatOfPath(path) ? nullptr : listedFormat());
    return {QFile::decodeName(QByteArray::fromStdString(target.path)), target.format};
}

void ExportFlow::showFailureAlert(const ExportFormat& format) {
    const QString text = exportFailureText(format);
    auto* alert = new QMessageBox(QMessageBox::Warning, text, text, QMessageBox::Ok, window_);
    alert->button(QMessageBox::Ok)->setText(Texts::tr("OK"));
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    failureAlert_ = alert;
    alert->open();  // nothing waits for it
}

void ExportFlow::saveThread(Job job) {
    {
        std::lock_guard<std::mutex> lock(renderLock_);
        ExportHooks hooks;
        hooks.setProgress = [this](int percent) { setProgress(percent); };
        hooks.abortSave = &abortSave_;
        ExportOptions options;
        options.loop = job.loop;
        const ExportOutcome outcome = exportToFile(renderer_, job.name, exportSeconds(job.length),
                                                   hooks, *job.format, options);
        saveResult_.store(outcome.saved, std::memory_order_release);
        if (outcome.saved) {
            setProgress(100);
            // The full bar, seen for a moment; a quit does not wait for it (nor does Cancel,
            // though the export has succeeded all the same).
            pollfd wake{abortSave_.wakeDescriptor(), POLLIN, 0};
            ::poll(&wake, 1, kFullBarMs);
        }
        QMetaObject::invokeMethod(this, &ExportFlow::endModalWait, Qt::QueuedConnection);
    }
    workerFinished_.store(true, std::memory_order_release);
}

bool ExportFlow::workerRunning() const {
    return worker_.joinable() && !workerFinished_.load(std::memory_order_acquire);
}

void ExportFlow::waitForWorker() {
    if (worker_.joinable()) {
        worker_.join();
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
    requestAbort();
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
