// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sndfile.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <mutex>

#include "export/AiffWriter.h"
#include "export/ExportJob.h"
#include "platform/Localization.h"
#include "platform/PortalFileChooser.h"
#include "support/Files.h"
#include "synth/Renderer.h"
#include "window/ExportFlow.h"

using namespace brinesong;

namespace {

struct Fixture {
    Fixture()
        : renderer(preferences, random), flow(renderer, renderLock, [this] { return playing; }) {
        window.resize(600, 400);
        window.show();
        ok = flow.load(&window);
    }

    // Chooses `path` in the file dialog with `length` in the length field and confirms.
    void exportTo(const QString& path, const QString& length) {
        flow.saveAs();
        QVERIFY(flow.saving());
        QVERIFY(flow.savePanel()->isVisible());
        flow.lengthComboBox->setCurrentText(length);
        flow.savePanel()->selectFile(path);
        static_cast<QDialog*>(flow.savePanel())->accept();  // as the Save button does
    }

    Preferences preferences;
    RandomSource random{11};
    Renderer renderer;
    std::mutex renderLock;
    bool playing = false;
    QMainWindow window;
    ExportFlow flow;
    bool ok = false;
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    return QByteArray::fromStdString(testing::readFile(QFile::encodeName(path).toStdString()));
}

// While it lives, answers every message box that comes up (each runs its own loop, in which this
// timer looks for it) with `button`, and notes its text in `texts` if given.
class QuestionAnswerer {
public:
    explicit QuestionAnswerer(QMessageBox::StandardButton button, QStringList* texts = nullptr)
        : button_(button), texts_(texts) {
        QObject::connect(&look_, &QTimer::timeout, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box && box->isVisible() && box->button(button_) && !answered_.contains(box)) {
                    answered_.append(box);
                    if (texts_) {
                        texts_->append(box->text());
                    }
                    box->button(button_)->click();
                }
            }
        });
        look_.start(5);
    }
    void setButton(QMessageBox::StandardButton button) { button_ = button; }

private:
    QMessageBox::StandardButton button_;
    QStringList* texts_;
    QList<QPointer<QMessageBox>> answered_;
    QTimer look_;
};

// The XDG desktop portal's file chooser. xdg-desktop-portal is a Debian package, but its file
// chooser needs a desktop backend with a user interface (GTK's, KDE's), and none runs on the test
// machine: this stand-in takes SaveFile on the test's private bus as the portal does, and the test
// answers as the user would. It has a connection of its own, so the calls travel over the bus.
class FileChooserStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.FileChooser")
    Q_PROPERTY(uint version READ version)
public:
    struct Request {
        QString title;
        QVariantMap options;
        QString handle;
    };

    FileChooserStandIn()
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                             QStringLiteral("file-chooser-stand-in"))) {
        registered_ = bus_.registerObject(
                          QStringLiteral("/org/freedesktop/portal/desktop"), this,
                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
                      bus_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~FileChooserStandIn() override {
        bus_.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        QDBusConnection::disconnectFromBus(bus_.name());
    }
    bool registered() const { return registered_; }
    uint version() const { return 3; }
    // The portal leaves the bus, as when it crashes.
    void leave() { bus_.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop")); }

    // Ends the last request: 0 chosen, 1 cancelled, 2 ended some other way.
    void answer(uint response, const QVariantMap& results) {
        QDBusMessage signal = QDBusMessage::createSignal(
            requests.last().handle, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"));
        signal << response << results;
        bus_.send(signal);
    }

    QList<Request> requests;

public slots:
    QDBusObjectPath SaveFile(const QString&, const QString& title, const QVariantMap& options) {
        // The request's path, made of the caller's name and its token.
        const QString sender = message().service().mid(1).replace(QLatin1Char('.'), '_');
        const QString handle =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        requests.append({title, options, handle});
        return QDBusObjectPath(handle);
    }

private:
    QDBusConnection bus_;
    bool registered_ = false;
};

QString signature(const QVariant& value) {
    return value.value<QDBusArgument>().currentSignature();
}

template <typename T>
T fromBus(const QVariant& value) {
    return qdbus_cast<T>(value.value<QDBusArgument>());
}

// A 0.05-minute looped FLAC as the dialog asked for it: its kind, its length, and a first frame
// that is already sound (an ordinary export begins at 0, 0).
void checkLoopedFlac(const QString& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    QVERIFY(file);
    short first[2] = {};
    QCOMPARE(sf_readf_short(file, first, 1), sf_count_t(1));
    sf_close(file);
    QCOMPARE(info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    QCOMPARE(info.frames, sf_count_t(exportFrameCount(exportSeconds(0.05f))));
    QVERIFY(first[0] != 0 || first[1] != 0);
}

}  // namespace

class ExportFlowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { installTranslations(*QCoreApplication::instance()); }

    void confirmed_nameWithOtherExtension_writesWholeFileWithAifAppended() {
        QTemporaryDir folder;
        Fixture f;
        QVERIFY(f.ok);
        QCOMPARE(f.flow.lengthComboBox->currentText(), QString::number(kExportLengthPresets[0]));
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
        QList<int> progress;
        connect(f.flow.saveProgress, &QProgressBar::valueChanged, this,
                [&progress](int value) { progress.append(value); });
        f.exportTo(folder.filePath(QStringLiteral("Night.snd")), QStringLiteral("0.05"));
        QVERIFY(ended.wait(20000));
        QCOMPARE(ended.at(0).at(0).toBool(), true);

        const QString written = folder.filePath(QStringLiteral("Night.snd.aif"));
        QCOMPARE(f.flow.lastPath(), written);
        const uint32_t frames = exportFrameCount(exportSeconds(0.05f));
        QCOMPARE(QFileInfo(written).size(), qint64(kAiffHeaderBytes) + qint64(frames) * 4);
        QCOMPARE(f.flow.saveStatusText->text(), QStringLiteral("Saving Night.snd.aif..."));
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last(), 100);
        QVERIFY(!f.flow.saving());
        QVERIFY(!f.flow.saveStatusPanel->isVisible());
        QVERIFY(!f.flow.failureAlert());
        // The worker lets go of the render lock just after it has ended the wait. (Not QTRY: it
        // evaluates its condition again after success, which would lock twice.)
        bool released = false;
        for (int i = 0; i < 500 && !(released = f.renderLock.try_lock()); ++i) {
            QTest::qWait(10);
        }
        QVERIFY(released);
        f.renderLock.unlock();
    }

    void confirmed_aiffInCapitals_keepsTheName() {
        QTemporaryDir folder;
        Fixture f;
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
        f.exportTo(folder.filePath(QStringLiteral("Calm.AIFF")), QStringLiteral("0"));
        QVERIFY(ended.wait(20000));
        // No minutes write an empty sound, and that is a success.
        QCOMPARE(QFileInfo(folder.filePath(QStringLiteral("Calm.AIFF"))).size(),
                 qint64(kAiffHeaderBytes));
    }

    void cancelPressed_whileWriting_noAlertAndTheFileLeftAsItWas() {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("Long.aif"));
        writeFile(file, "an earlier export");
        Fixture f;
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
        connect(&f.flow, &ExportFlow::writingStarted, this, [&f] {
            QVERIFY(f.flow.saveStatusPanel->isVisible());
            f.flow.cancelButtonControl->click();
        });
        QuestionAnswerer yes(QMessageBox::Yes);  // replace it
        f.exportTo(file, QStringLiteral("60"));
        QVERIFY(ended.wait(60000));
        QCOMPARE(ended.at(0).at(0).toBool(), false);
        QVERIFY(f.flow.abortSave());
        QCOMPARE(readFile(file), QByteArray("an earlier export"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Long.aif")});
        QVERIFY(!f.flow.failureAlert());
        QVERIFY(!f.flow.saving());
    }

    // The file-type list picks the format and its extension; a typed extension that names a
    // format picks that one; the loop box makes a file that starts at full sound, not silence.
    void fileTypeListAndLoopBox_chooseFormatAndLoop() {
        QTemporaryDir folder;
        Fixture f;
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
        f.flow.saveAs();
        QStringList types = f.flow.savePanel()->nameFilters();
        QCOMPARE(types.size(), 5);
        QCOMPARE(types.first(), QStringLiteral("AIFF files (*.aif *.aiff)"));
        QCOMPARE(f.flow.savePanel()->selectedNameFilter(), types.first());
        const QString flac = types.filter(QStringLiteral("FLAC")).value(0);
        QCOMPARE(flac, QStringLiteral("FLAC files (*.flac)"));
        f.flow.savePanel()->selectNameFilter(flac);
        emit f.flow.savePanel()->filterSelected(flac);  // as choosing it in the list does
        QVERIFY(f.flow.loopCheckBox);
        f.flow.loopCheckBox->setChecked(true);
        f.flow.savePanel()->reject();
        QTRY_VERIFY(!f.flow.saving());

        f.exportTo(folder.filePath(QStringLiteral("Tide")), QStringLiteral("0.05"));
        QVERIFY(ended.wait(20000));
        QCOMPARE(ended.at(0).at(0).toBool(), true);
        const QString tide = folder.filePath(QStringLiteral("Tide.flac"));
        QCOMPARE(f.flow.lastPath(), tide);
        checkLoopedFlac(tide);
        if (QTest::currentTestFailed()) {
            return;
        }

        Fixture g;  // the list at AIFF, as at launch
        QSignalSpy gEnded(&g.flow, &ExportFlow::exportEnded);
        g.exportTo(folder.filePath(QStringLiteral("Wave.mp3")), QStringLiteral("0.05"));
        QVERIFY(gEnded.wait(20000));
        QCOMPARE(g.flow.lastPath(), folder.filePath(QStringLiteral("Wave.mp3")));
        SF_INFO mp3{};
        SNDFILE* file = sf_open(g.flow.lastPath().toLocal8Bit().constData(), SFM_READ, &mp3);
        QVERIFY(file);
        sf_close(file);
        QCOMPARE(mp3.format & SF_FORMAT_TYPEMASK, SF_FORMAT_MPEG);
    }

    void writeFails_diskFull_alertsAndLeavesTheLinkAndDevice() {
        QTemporaryDir folder;
        const QString link = folder.filePath(QStringLiteral("full.aif"));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), link));
        Fixture f;
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
        QuestionAnswerer yes(QMessageBox::Yes);  // the name exists (the link): replace it
        f.exportTo(link, QStringLiteral("1"));
        QVERIFY(ended.wait(20000));
        QCOMPARE(ended.at(0).at(0).toBool(), false);
        QMessageBox* alert = f.flow.failureAlert();
        QVERIFY(alert);
        QVERIFY(alert->isVisible());
        QCOMPARE(alert->windowModality(), Qt::WindowModal);
        QCOMPARE(alert->parentWidget(), &f.window);
        QCOMPARE(alert->text(), QStringLiteral("Failed to save an AIFF file."));
        QCOMPARE(alert->buttons().size(), 1);
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(QFileInfo::exists(QStringLiteral("/dev/full")));
        alert->button(QMessageBox::Ok)->click();
        QTRY_VERIFY(!f.flow.failureAlert());
    }

    // One question, about the file that will be written: with Night.snd present, "Night.snd"
    // writes Night.snd.aif without asking; once that exists, it is asked about, once. No returns
    // to the dialog, Yes replaces it. A file that cannot be written to (a WAV into a FIFO) is
    // refused with the reason, and the dialog stays open.
    void saveChoice_asksOnceAboutTheFileWritten_refusesWhatCannotBeWritten() {
        QTemporaryDir folder;
        const QString typed = folder.filePath(QStringLiteral("Night.snd"));
        const QString real = folder.filePath(QStringLiteral("Night.snd.aif"));
        writeFile(typed, "the user's own");
        Fixture f;
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
        QStringList asked;
        QuestionAnswerer answerer(QMessageBox::No, &asked);
        f.exportTo(typed, QStringLiteral("0.05"));
        QVERIFY(ended.wait(20000));
        QCOMPARE(asked, QStringList());
        QCOMPARE(readFile(typed), QByteArray("the user's own"));
        const qint64 size =
            qint64(kAiffHeaderBytes) + qint64(exportFrameCount(exportSeconds(0.05f))) * 4;
        QCOMPARE(QFileInfo(real).size(), size);

        writeFile(real, "keep me");
        f.exportTo(typed, QStringLiteral("0.05"));
        QCOMPARE(asked, QStringList{QStringLiteral(
                            "Night.snd.aif already exists.\nDo you want to replace it?")});
        QVERIFY(f.flow.savePanel()->isVisible());
        QVERIFY(f.flow.saving());
        QCOMPARE(readFile(real), QByteArray("keep me"));

        answerer.setButton(QMessageBox::Yes);
        static_cast<QDialog*>(f.flow.savePanel())->accept();
        QVERIFY(ended.wait(20000));
        QCOMPARE(ended.at(1).at(0).toBool(), true);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(QFileInfo(real).size(), size);

        const QString fifo = folder.filePath(QStringLiteral("Pipe.wav"));
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0666), 0);
        answerer.setButton(QMessageBox::Ok);
        f.exportTo(fifo, QStringLiteral("1"));
        QCOMPARE(asked.size(), 3);
        QVERIFY2(asked.last().startsWith(QStringLiteral("Pipe.wav is a FIFO or a device, and a WAV "
                                                        "file cannot be written to one")),
                 qPrintable(asked.last()));
        QVERIFY(f.flow.savePanel()->isVisible());
        f.flow.savePanel()->reject();
        QTRY_VERIFY(!f.flow.saving());
    }

    // A FIFO whose reader holds it open but never reads: the writer waits for room, and Cancel
    // ends that wait too; so does quitting, which ends the status sheet's wait as it ends every
    // event loop. The FIFO stays, and no alert is shown.
    void cancelOrQuit_readerStoppedReading_endsTheExport() {
        QTemporaryDir folder;
        const QString fifo = folder.filePath(QStringLiteral("Pipe.aif"));
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0666), 0);
        for (const bool quit : {false, true}) {
            const int reader = ::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
            QVERIFY(reader >= 0);
            Fixture f;
            QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
            // Once the FIFO has filled and stays full, the writer waits for room: then end it.
            QTimer look;
            int last = -1;
            connect(&look, &QTimer::timeout, this, [&] {
                int queued = 0;
                ::ioctl(reader, FIONREAD, &queued);
                if (queued > 0 && queued == last) {
                    look.stop();
                    if (quit) {
                        f.flow.saveStatusPanel->done(QDialog::Rejected);
                    } else {
                        f.flow.cancelButtonControl->click();
                    }
                }
                last = queued;
            });
            connect(&f.flow, &ExportFlow::writingStarted, this, [&look] { look.start(100); });
            QuestionAnswerer yes(QMessageBox::Yes);  // it exists: written in place
            f.exportTo(fifo, QStringLiteral("60"));
            // A bound on its ending at all: the reader is still there, never to read.
            QVERIFY(ended.wait(60000));
            QCOMPARE(ended.at(0).at(0).toBool(), false);
            QVERIFY(f.flow.abortSave());
            QVERIFY(!f.flow.workerRunning());
            QVERIFY(!f.flow.failureAlert());
            QVERIFY(!f.flow.saving());
            ::close(reader);
            struct stat info {};
            QCOMPARE(::lstat(fifo.toLocal8Bit().constData(), &info), 0);
            QVERIFY(S_ISFIFO(info.st_mode));
        }
    }

    // Typed into the field, "4" is four minutes: no completion to a longer preset.
    void lengthTyped_isTheLengthUsed() {
        QTemporaryDir folder;
        Fixture f;
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
        f.flow.saveAs();
        QComboBox* field = f.flow.lengthComboBox;
        // Typed as a user types: into the focused field of the active dialog.
        QApplication::setActiveWindow(f.flow.savePanel());
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        field->lineEdit()->selectAll();
        QTest::keyClicks(field, QStringLiteral("4"));
        f.flow.savePanel()->selectFile(folder.filePath(QStringLiteral("Four")));
        static_cast<QDialog*>(f.flow.savePanel())->accept();
        QVERIFY(ended.wait(60000));
        QCOMPARE(QFileInfo(folder.filePath(QStringLiteral("Four.aif"))).size(),
                 qint64(kAiffHeaderBytes) + qint64(4 * 60 * 44100) * 4);
    }

    void lengthNotANumber_saysSoAndKeepsTheDialog() {
        QTemporaryDir folder;
        Fixture f;
        QStringList said;
        QuestionAnswerer ok(QMessageBox::Ok, &said);
        f.exportTo(folder.filePath(QStringLiteral("Odd")), QStringLiteral("long"));
        QCOMPARE(said, QStringList{"The length must be a number of minutes (up to 400)."});
        QVERIFY(f.flow.savePanel()->isVisible());
        QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("Odd.aif"))));
        f.flow.savePanel()->reject();
        QTRY_VERIFY(!f.flow.saving());
    }

    // The worker ends before the main thread reaches its wait; the end must still arrive.
    void openFails_workerEndsAtOnce_outcomeStillReached() {
        QTemporaryDir folder;
        Fixture f;
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
        const QString path = folder.filePath(QStringLiteral("missing/dir/x.aif"));
        f.exportTo(path, QStringLiteral("1"));
        QVERIFY(ended.wait(20000));
        QVERIFY(f.flow.failureAlert());
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(!f.flow.saving());
    }

    void saveAs_whilePlayingOrSaving_opensNothing() {
        Fixture f;
        f.playing = true;
        f.flow.saveAs();
        QVERIFY(!f.flow.saving());
        QVERIFY(!f.flow.savePanel()->isVisible());
        f.playing = false;
        f.flow.saveAs();
        QVERIFY(f.flow.saving());
        f.flow.saveAs();  // a second request while the dialog is up changes nothing
        QSignalSpy saving(&f.flow, &ExportFlow::savingChanged);
        f.flow.savePanel()->reject();
        QTRY_COMPARE(saving.size(), 1);
        QVERIFY(!f.flow.saving());
    }

    // The dialog opens where the last export went while that folder is there, else in the
    // user's music folder where there is one, else at home.
    void dialog_opensInTheLastFolderElseMusicElseHome() {
        QTemporaryDir home;
        const QByteArray realHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        const auto restore = qScopeGuard([&realHome] { qputenv("HOME", realHome); });
        Fixture f;
        const auto opensIn = [&f](const QString& folder) {
            f.flow.saveAs();
            QVERIFY(f.flow.savePanel()->isVisible());
            QCOMPARE(f.flow.savePanel()->directory().absolutePath(), folder);
            f.flow.savePanel()->reject();
            QTRY_VERIFY(!f.flow.saving());
        };
        opensIn(home.path());
        const QString music = home.filePath(QStringLiteral("Music"));
        QVERIFY(QDir().mkdir(music));
        opensIn(music);

        auto folder = std::make_unique<QTemporaryDir>();
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
        f.exportTo(folder->filePath(QStringLiteral("Tide")), QStringLiteral("0"));
        QVERIFY(ended.wait(20000));
        QCOMPARE(f.flow.lastFolder(), folder->path());
        opensIn(folder->path());
        folder.reset();
        opensIn(music);
    }

    // Where the desktop's portal offers a file chooser, that is the dialog: it opens in the last
    // folder, with the formats as its file types and the lengths (the one typed last among them)
    // and the loop box as its choices, and what it answers is written. A file it did not ask
    // about is asked about here, and a No opens it again where it was; Cancel ends the export; a
    // portal that fails hands over to Qt's dialog.
    void portal_answersWithFileAndChoices_exportWrittenThere() {
        FileChooserStandIn portal;
        QVERIFY(portal.registered());
        QTemporaryDir last;
        QTemporaryDir chosen;
        Fixture f;
        QTRY_VERIFY(f.flow.usesPortal());
        f.flow.setLastFolder(last.path());
        f.flow.lengthComboBox->setCurrentText(QStringLiteral("0.05"));
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
        f.flow.saveAs();
        QTRY_COMPARE(portal.requests.size(), 1);
        QVERIFY(!f.flow.savePanel()->isVisible());
        QVariantMap asked = portal.requests[0].options;
        QCOMPARE(portal.requests[0].title, QStringLiteral("Export Sound File"));
        QCOMPARE(asked.value(QStringLiteral("current_name")).toString(),
                 QStringLiteral("Brinesong"));
        QCOMPARE(asked.value(QStringLiteral("current_folder")).toByteArray(),
                 QFile::encodeName(last.path()) + '\0');
        // In the portal's own types.
        QCOMPARE(signature(asked.value(QStringLiteral("filters"))), QStringLiteral("a(sa(us))"));
        QCOMPARE(signature(asked.value(QStringLiteral("current_filter"))),
                 QStringLiteral("(sa(us))"));
        QCOMPARE(signature(asked.value(QStringLiteral("choices"))), QStringLiteral("a(ssa(ss)s)"));
        const auto filters = fromBus<QList<PortalFilter>>(asked.value(QStringLiteral("filters")));
        QCOMPARE(filters.size(), 5);
        QCOMPARE(filters[0].name, QStringLiteral("AIFF files (*.aif *.aiff)"));
        QCOMPARE(filters[0].rules.size(), 2);
        QCOMPARE(filters[0].rules[1].pattern, QStringLiteral("*.aiff"));
        QCOMPARE(fromBus<PortalFilter>(asked.value(QStringLiteral("current_filter"))).name,
                 filters[0].name);
        const auto choices = fromBus<QList<PortalChoice>>(asked.value(QStringLiteral("choices")));
        QCOMPARE(choices.size(), 2);
        QCOMPARE(choices[0].id, QStringLiteral("length"));
        QCOMPARE(choices[0].options.size(), int(std::size(kExportLengthPresets)) + 1);
        QCOMPARE(choices[0].options[0].id, QStringLiteral("0.05"));
        QCOMPARE(choices[0].options[1].label, QStringLiteral("10"));
        QCOMPARE(choices[0].selected, QStringLiteral("0.05"));
        QCOMPARE(choices[1].id, QStringLiteral("loop"));
        QVERIFY(choices[1].options.isEmpty());  // a check box
        QCOMPARE(choices[1].selected, QStringLiteral("false"));

        // FLAC, looped, as "Surf" in a folder of the user's choosing.
        PortalFilter flac;
        for (const PortalFilter& filter : filters) {
            if (filter.name.startsWith(QStringLiteral("FLAC"))) {
                flac = filter;
            }
        }
        const auto answer = [&](const QString& name) {
            return QVariantMap{
                {QStringLiteral("uris"),
                 QStringList{QUrl::fromLocalFile(chosen.filePath(name)).toString()}},
                {QStringLiteral("choices"), QVariant::fromValue(QList<PortalChoiceOption>{
                                                {QStringLiteral("length"), QStringLiteral("0.05")},
                                                {QStringLiteral("loop"), QStringLiteral("true")}})},
                {QStringLiteral("current_filter"), QVariant::fromValue(flac)}};
        };
        portal.answer(0, answer(QStringLiteral("Surf")));
        QVERIFY(ended.wait(20000));
        QCOMPARE(ended.at(0).at(0).toBool(), true);
        const QString surf = chosen.filePath(QStringLiteral("Surf.flac"));
        QCOMPARE(f.flow.lastPath(), surf);
        checkLoopedFlac(surf);
        if (QTest::currentTestFailed()) {
            return;
        }
        QVERIFY(f.flow.loopCheckBox->isChecked());

        // "Surf" again: the desktop did not ask about Surf.flac, so it is asked here; No opens
        // its dialog again, in the folder chosen and the format chosen.
        QStringList said;
        QuestionAnswerer no(QMessageBox::No, &said);
        f.flow.saveAs();
        QTRY_COMPARE(portal.requests.size(), 2);
        asked = portal.requests[1].options;
        QCOMPARE(asked.value(QStringLiteral("current_folder")).toByteArray(),
                 QFile::encodeName(chosen.path()) + '\0');
        QCOMPARE(fromBus<PortalFilter>(asked.value(QStringLiteral("current_filter"))).name,
                 flac.name);
        portal.answer(0, answer(QStringLiteral("Surf")));
        QTRY_COMPARE(portal.requests.size(), 3);
        QCOMPARE(
            said,
            QStringList{QStringLiteral("Surf.flac already exists.\nDo you want to replace it?")});
        asked = portal.requests[2].options;
        QCOMPARE(asked.value(QStringLiteral("current_name")).toString(), QStringLiteral("Surf"));
        QCOMPARE(asked.value(QStringLiteral("current_folder")).toByteArray(),
                 QFile::encodeName(chosen.path()) + '\0');
        // Named in full, the file was the desktop's to ask about: replaced without a word more.
        portal.answer(0, answer(QStringLiteral("Surf.flac")));
        QVERIFY(ended.wait(20000));
        QCOMPARE(ended.at(1).at(0).toBool(), true);
        QCOMPARE(said.size(), 1);

        f.flow.saveAs();
        QTRY_COMPARE(portal.requests.size(), 4);
        portal.answer(1, {});
        QTRY_VERIFY(!f.flow.saving());
        QCOMPARE(ended.size(), 2);

        f.flow.saveAs();
        QTRY_COMPARE(portal.requests.size(), 5);
        portal.answer(2, {});
        QTRY_VERIFY(f.flow.savePanel()->isVisible());
        QCOMPARE(f.flow.savePanel()->directory().absolutePath(), chosen.path());
        f.flow.savePanel()->reject();
        QTRY_VERIFY(!f.flow.saving());

        // So does a portal that leaves the bus while its dialog is open.
        f.flow.saveAs();
        QTRY_COMPARE(portal.requests.size(), 6);
        portal.leave();
        QTRY_VERIFY(f.flow.savePanel()->isVisible());
        QVERIFY(!f.flow.usesPortal());
        f.flow.savePanel()->reject();
        QTRY_VERIFY(!f.flow.saving());
    }

    // What the portal answers is held to what the dialog's fields take: a length that is no
    // number of minutes and a folder are refused with a message, and the portal asks again where
    // it was; a URI with an encoded NUL (which would cut the name short at the NUL) is no file,
    // and Qt's dialog asks instead. A file already there is left as it was throughout.
    void portal_refusedAnswers_writeNothing() {
        FileChooserStandIn portal;
        QVERIFY(portal.registered());
        QTemporaryDir chosen;
        const QString keep = chosen.filePath(QStringLiteral("Keep.aif"));
        writeFile(keep, "the user's own");
        Fixture f;
        QTRY_VERIFY(f.flow.usesPortal());
        QStringList said;
        QuestionAnswerer ok(QMessageBox::Ok, &said);
        const auto answer = [](const QString& uri, const QString& length) {
            return QVariantMap{
                {QStringLiteral("uris"), QStringList{uri}},
                {QStringLiteral("choices"), QVariant::fromValue(QList<PortalChoiceOption>{
                                                {QStringLiteral("length"), length}})}};
        };
        const QString keepUri = QUrl::fromLocalFile(keep).toString();
        f.flow.saveAs();
        QTRY_COMPARE(portal.requests.size(), 1);
        int refused = 0;
        for (const char* length : {"nan", "-5", ""}) {
            portal.answer(0, answer(keepUri, QString::fromLatin1(length)));
            ++refused;
            QTRY_COMPARE(said.size(), refused);
            QTRY_COMPARE(portal.requests.size(), refused + 1);
            QCOMPARE(said.last(),
                     QStringLiteral("The length must be a number of minutes (up to 400)."));
            const QVariantMap asked = portal.requests.last().options;
            QCOMPARE(asked.value(QStringLiteral("current_name")).toString(),
                     QStringLiteral("Keep.aif"));
            QCOMPARE(asked.value(QStringLiteral("current_folder")).toByteArray(),
                     QFile::encodeName(chosen.path()) + '\0');
        }
        portal.answer(
            0, answer(QUrl::fromLocalFile(chosen.path() + '/').toString(), QStringLiteral("0.05")));
        QTRY_COMPARE(said.size(), 4);
        QCOMPARE(said.last(),
                 chosen.path() + QStringLiteral(" is a folder; choose a name for the file."));
        QTRY_COMPARE(portal.requests.size(), 5);
        portal.answer(0, answer(keepUri + QStringLiteral("%00.flac"), QStringLiteral("0.05")));
        QTRY_VERIFY(f.flow.savePanel()->isVisible());
        f.flow.savePanel()->reject();
        QTRY_VERIFY(!f.flow.saving());
        QCOMPARE(said.size(), 4);
        QCOMPARE(readFile(keep), QByteArray("the user's own"));
        QCOMPARE(QDir(chosen.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Keep.aif")});
    }

    // Only an absolute local file is an answer; ":/" would be one of Qt's resources to Qt's own
    // file classes, and a file relative to wherever the program runs when it is opened.
    void portalResponse_namesNoFile_fails() {
        PortalFileChooser::Answer answer;
        const auto ending = [&answer](const QString& uri) {
            return PortalFileChooser::readResponse(0, {{QStringLiteral("uris"), QStringList{uri}}},
                                                   answer);
        };
        QCOMPARE(ending(QStringLiteral("file:///tmp/Surf.aif")), PortalFileChooser::Ending::Chosen);
        QCOMPARE(answer.path, QStringLiteral("/tmp/Surf.aif"));
        for (const char* uri : {"file::/Surf.aif", "file:///tmp/a%00b.aif", "Surf.aif",
                                "https://example.org/Surf.aif", ""}) {
            QVERIFY2(ending(QString::fromLatin1(uri)) == PortalFileChooser::Ending::Failed, uri);
        }
    }

    void lengthMinutes_fieldText() {
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral("500")), 400.0f);
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral("400")), 400.0f);
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral(" 2.5 ")), 2.5f);
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral("0")), 0.0f);
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral("1e9")), 400.0f);
        for (const char* refused : {"long", "12 minutes", "-5", "", "nan"}) {
            QVERIFY2(!ExportFlow::lengthMinutes(QString::fromLatin1(refused)), refused);
        }
        // In a German window: the decimal comma, and still the point (not as a thousands
        // separator, which would make "2.5" 25).
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral("2,5")), 2.5f);
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral("2.5")), 2.5f);
        QLocale::setDefault(before);
    }
};

QTEST_MAIN(ExportFlowTest)
#include "export_flow_test.moc"
