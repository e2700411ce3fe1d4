#include <fcntl.h>
#include <sndfile.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
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

#include "app/ExportFlow.h"
#include "export/AiffWriter.h"
#include "export/ExportJob.h"
#include "platform/Localization.h"
#include "support/Files.h"
#include "synth/Renderer.h"

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
        SF_INFO info{};
        SNDFILE* file = sf_open(tide.toLocal8Bit().constData(), SFM_READ, &info);
        QVERIFY(file);
        short first[2] = {};
        QCOMPARE(sf_readf_short(file, first, 1), sf_count_t(1));
        sf_close(file);
        QCOMPARE(info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
        QCOMPARE(info.frames, sf_count_t(exportFrameCount(exportSeconds(0.05f))));
        QVERIFY(first[0] != 0 || first[1] != 0);  // an ordinary export begins at 0, 0

        Fixture g;  // the list at AIFF, as at launch
        QSignalSpy gEnded(&g.flow, &ExportFlow::exportEnded);
        g.exportTo(folder.filePath(QStringLiteral("Wave.mp3")), QStringLiteral("0.05"));
        QVERIFY(gEnded.wait(20000));
        QCOMPARE(g.flow.lastPath(), folder.filePath(QStringLiteral("Wave.mp3")));
        SF_INFO mp3{};
        file = sf_open(g.flow.lastPath().toLocal8Bit().constData(), SFM_READ, &mp3);
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
