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
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
        const uint32_t frames = aiffFrameCount(exportSeconds(0.05f));
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
        // A length that is no number writes an empty sound, and that is a success.
        QCOMPARE(QFileInfo(folder.filePath(QStringLiteral("Calm.AIFF"))).size(),
                 qint64(kAiffHeaderBytes));
    }

    void cancelPressed_whileWriting_noAlertAndTheFileLeftAsItWas() {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("Long.aif"));
        writeFile(file, "an earlier export");
        Fixture f;
        f.flow.savePanel()->setOption(QFileDialog::DontConfirmOverwrite);  // the user's yes
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
        connect(&f.flow, &ExportFlow::writingStarted, this, [&f] {
            QVERIFY(f.flow.saveStatusPanel->isVisible());
            f.flow.cancelButtonControl->click();
        });
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

    void writeFails_diskFull_alertsAndLeavesTheLinkAndDevice() {
        QTemporaryDir folder;
        const QString link = folder.filePath(QStringLiteral("full.aif"));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), link));
        Fixture f;
        // The name exists (the link): skip the dialog's replace question, the user's yes.
        f.flow.savePanel()->setOption(QFileDialog::DontConfirmOverwrite);
        QSignalSpy ended(&f.flow, &ExportFlow::exportEnded);
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
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral("2.5")), 2.5f);
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral(" 12 minutes")), 12.0f);
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral("1e9")), 400.0f);
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral("long")), 0.0f);
        QCOMPARE(ExportFlow::lengthMinutes(QStringLiteral("-5")), 0.0f);
    }
};

QTEST_MAIN(ExportFlowTest)
#include "export_flow_test.moc"
