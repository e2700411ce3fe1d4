// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/mount.h>

#include <QAbstractSlider>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimeEdit>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "app/Controller.h"
#include "model/Settings.h"
#include "platform/Localization.h"
#include "platform/PulseOutputUnit.h"
#include "platform/SettingsStore.h"
#include "support/StderrCapture.h"
#include "window/HelpPanel.h"
#include "window/NightPanel.h"
#include "window/PresetChooser.h"
#include "window/WavePicture.h"

using namespace brinesong;

namespace {

const QDateTime kMorning(QDate(2026, 3, 14), QTime(7, 0, 0));

// A controller on the real PulseAudio server of the test script, with its settings store in a
// file of the test's own and a clock standing at `now`.
struct Launched {
    explicit Launched(const QString& storePath, QDateTime now = kMorning)
        : Launched(
              storePath, [now] { return now; }, Schedule::kMinuteMs) {}
    Launched(const QString& storePath, Clock clock, int minuteMs)
        : store(storePath), controller(unit, store, std::move(clock), minuteMs) {
        launched = controller.awakeFromNib();
        connection.start();
    }
    ~Launched() { controller.applicationWillTerminate(); }

    PulseConnection connection;
    PulseOutputUnit unit{connection};
    SettingsStore store;
    Controller controller;
    bool launched = false;
};

// Frames the server has pulled from the playback running now or last; 0 before the first.
uint64_t framesHandedOut(const Controller& c) {
    const RenderRun* run = c.playbackEngine().rendering();
    return run ? run->frameCount.load() : 0;
}

// The control that has the keyboard focus: a spin box's or a pop-up's line edit stands for it.
QWidget* focusedControl(QWidget* window) {
    QWidget* focused = QApplication::focusWidget();
    for (QWidget* w = focused; w && w != window; w = w->parentWidget()) {
        if (qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w)) {
            return w;
        }
    }
    return focused;
}

// The controls Tab visits in `window`, from the one focused first, once round.
QWidgetList tabOrder(QWidget* window) {
    QWidgetList order;
    for (int presses = 0; presses < 100 && QApplication::focusWidget(); ++presses) {
        QWidget* control = focusedControl(window);
        if (order.isEmpty() || order.last() != control) {  // a date's fields take a Tab each
            if (order.contains(control)) {
                break;
            }
            order << control;
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    return order;
}

bool soundServerAvailable() {
    return qEnvironmentVariableIsSet("PULSE_SERVER");
}

// The contrast ratio of two colours, as the accessibility guidelines define it: 1 to 21.
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The first match of `pattern` in the AppStream metainfo the program installs.
QRegularExpressionMatch inMetainfo(const QString& pattern) {
    // The metainfo as the build configures it, with the version filled in.
    QFile file(QStringLiteral(BRINESONG_BUILD_DIR "/resources/org.kelvane.Brinesong.metainfo.xml"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QRegularExpression(pattern).match(QString::fromUtf8(file.readAll()));
}

// The names of the user's presets in the settings file at `path`, entry by entry.
QStringList storedPresetNames(const QString& path) {
    QSettings raw(path, QSettings::IniFormat);
    raw.beginGroup(QStringLiteral("Presets"));
    QStringList entries = raw.childGroups();
    std::sort(entries.begin(), entries.end(),
              [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    QStringList names;
    for (const QString& entry : entries) {
        names << raw.value(entry + QStringLiteral("/name")).toString();
    }
    return names;
}

// The names the tray's and the window's preset lists offer after the shipped ones.
QStringList userPresetNames(PresetChooser& presets) {
    QStringList names;
    for (const PresetChooser::Item& item : presets.items()) {
        names << item.name;
    }
    return names.mid(int(shippedPresets().size()));
}

// The item titled `title` in `menu`, or none.
QAction* menuItem(QMenu* menu, const QString& title) {
    const QList<QAction*> items = menu ? menu->actions() : QList<QAction*>();
    const auto item =
        std::find_if(items.begin(), items.end(), [&](QAction* a) { return a->text() == title; });
    return item == items.end() ? nullptr : *item;
}

// Answers the next message box that opens with the button titled `button`; its text goes to `text`.
void answerMessage(const QString& button, QString* text) {
    QTimer::singleShot(0, [button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            answerMessage(button, text);  // not open yet
            return;
        }
        *text = box->text();
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == button) {
                b->click();
            }
        }
    });
}

// Answers the modal dialogs that open from now on, one text each, as a user types a name and
// presses OK; the labels they showed go to `labels`.
void answerNameDialogs(QStringList answers, QStringList* labels) {
    QTimer::singleShot(0, [answers, labels]() mutable {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            answerNameDialogs(answers, labels);  // not open yet
            return;
        }
        *labels << dialog->labelText();
        dialog->setTextValue(answers.takeFirst());
        if (!answers.isEmpty()) {
            answerNameDialogs(answers, labels);
        }
        dialog->accept();
    });
}

}  // namespace

class ControllerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { installTranslations(*QCoreApplication::instance()); }

    void init() {
        Preferences::sharedInstance().setDeafaultValue();
        delete HelpPanel::sharedInstance().window.data();
        folder = std::make_unique<QTemporaryDir>();
        storePath = folder->filePath(QStringLiteral("Brinesong.ini"));
    }

    void launch_emptyStore_defaultsAndHelpShown() {
        Launched app(storePath);
        QVERIFY(app.launched);
        Controller& c = app.controller;
        MainWindowView& v = c.view();
        QCOMPARE(v.window->windowTitle(), QStringLiteral("Brinesong"));
        QVERIFY(v.window->isVisible());
        // Software centres are told the size of the window as it first opens.
        const QRegularExpressionMatch screenshot =
            inMetainfo(QStringLiteral("<image type=\"source\" width=\"(\\d+)\" height=\"(\\d+)\""));
        QCOMPARE(v.window->size(),
                 QSize(screenshot.captured(1).toInt(), screenshot.captured(2).toInt()));
        QVERIFY(c.firstLaunch());
        QCOMPARE(c.renderer().volume.load(), 0.5);
        QCOMPARE(v.volumeSlider->value(), 50);
        QCOMPARE(v.dateText->date(), kMorning.date());
        QCOMPARE(v.timeText->time(), QTime(8, 0, 0));
        QCOMPARE(v.minutesText->value(), 45);
        QVERIFY(!v.startCheckbox->isChecked());
        QVERIFY(!v.stopCheckbox->isChecked());
        const Preferences& p = Preferences::sharedInstance();
        QCOMPARE(p.lightWave(), 75.0);
        QCOMPARE(p.heavyWave(), 100.0);
        QCOMPARE(p.ascent(), 50.0);
        QVERIFY(!p.boostSoundLevel());
        QVERIFY(p.amplitudeGenerator());
        QVERIFY(c.keepAwake());  // on unless turned off
        QCOMPARE(c.exportFlow().lengthComboBox->currentIndex(), 0);
        QCOMPARE(v.playStopButton->text(), QStringLiteral("Start Brinesong"));
        if (soundServerAvailable()) {
            QVERIFY(c.isOutputOpen());
        }

        QVERIFY(!HelpPanel::sharedInstance().window);
        c.applicationDidFinishLaunching();
        QPointer<QWidget> help = HelpPanel::sharedInstance().window;
        QVERIFY(help && help->isVisible());
        v.showHelp();  // loaded once: the same panel comes to the front
        QCOMPARE(HelpPanel::sharedInstance().window.data(), help.data());
    }

    void launch_storedSettings_clampsVolumeAndStartsTomorrowWhenPast() {
        {
            SettingsStore seed(storePath);
            seed.setFloat(150.0f, keys::kVolume);
            seed.setInteger(8, keys::kHour);
            seed.setInteger(0, keys::kMinute);
            seed.setInteger(30, keys::kSecond);
            seed.setInteger(-5, keys::kMinutes);
            seed.setInteger(62, keys::kLightWave);
            seed.setInteger(200, keys::kHeavyWave);  // out of range: the default stays
            seed.setBool(true, keys::kBoostSoundLevel);
            seed.setBool(false, keys::kAmplitudeGenerator);
            seed.setInteger(7, keys::kFadeMinutes);   // not a choice: off
            seed.setInteger(-5, keys::kRiseMinutes);  // likewise
            QVERIFY(seed.synchronize());
        }
        Launched app(storePath, QDateTime(kMorning.date(), QTime(8, 0, 31)));
        Controller& c = app.controller;
        MainWindowView& v = c.view();
        QVERIFY(!c.firstLaunch());
        QCOMPARE(c.renderer().volume.load(), 1.0);
        QCOMPARE(v.volumeSlider->value(), 100);
        QCOMPARE(v.dateText->date(), kMorning.date().addDays(1));
        QCOMPARE(v.timeText->time(), QTime(8, 0, 30));  // the start keeps its seconds
        QCOMPARE(v.minutesText->value(), -5);           // due at the first check, as stored
        QCOMPARE(c.schedule().fadeMinutes(), 0);
        QCOMPARE(c.schedule().riseMinutes(), 0);
        const Preferences& p = Preferences::sharedInstance();
        QCOMPARE(p.lightWave(), 62.0);
        QCOMPARE(p.heavyWave(), 100.0);
        QVERIFY(p.boostSoundLevel());
        QVERIFY(!p.amplitudeGenerator());
        c.applicationDidFinishLaunching();
        QVERIFY(!HelpPanel::sharedInstance().window);
        // Untouched, they are written back as they were.
        c.applicationWillTerminate();
        QSettings raw(storePath, QSettings::IniFormat);
        QCOMPARE(raw.value(keys::kSecond).toString(), QStringLiteral("30"));
        QCOMPARE(raw.value(keys::kMinutes).toString(), QStringLiteral("-5"));
    }

    // A stored volume no slider could have given counts as none: the sound is not silenced.
    void launch_negativeOrNanStoredVolume_takesTheDefault() {
        for (const QByteArray& stored : {QByteArray("-5"), QByteArray("nan")}) {
            QFile file(storePath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[General]\nVolumeKey=" + stored + "\n");
            file.close();
            Launched app(storePath);
            QCOMPARE(app.controller.renderer().volume.load(), 0.5);
            QCOMPARE(app.controller.view().volumeSlider->value(), 50);
        }
    }

    void minutesField_takesAnyWholeNumber() {
        Launched app(storePath);
        QSpinBox* minutes = app.controller.view().minutesText;
        minutes->selectAll();
        QTest::keyClicks(minutes, QStringLiteral("abc"));
        QCOMPARE(minutes->value(), 45);
        minutes->selectAll();
        QTest::keyClicks(minutes, QStringLiteral("-7"));
        QCOMPARE(app.controller.schedule().minutes(), -7);
        minutes->selectAll();
        QTest::keyClicks(minutes, QStringLiteral("2147483647"));
        app.controller.applicationWillTerminate();
        QCOMPARE(QSettings(storePath, QSettings::IniFormat).value(keys::kMinutes).toString(),
                 QStringLiteral("2147483647"));
    }

    // A file damaged before launch is replaced whole at quit, and that write is no failure.
    void quit_afterADamagedFile_writesItWithoutReportingAFailure() {
        {
            QFile file(storePath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[General\nVolumeKey=70\n");
        }
        StderrCapture errors;
        {
            Launched app(storePath);
            QVERIFY(
                !app.controller.view().statusText->text().contains(QStringLiteral("not be saved")));
            app.controller.view().volumeSlider->setValue(64);
            app.controller.applicationWillTerminate();
        }
        const QString printed = errors.text();
        QVERIFY2(!printed.contains(QStringLiteral("Failed to write")), qPrintable(printed));
        QSettings written(storePath, QSettings::IniFormat);
        QCOMPARE(written.status(), QSettings::NoError);
        QCOMPARE(written.value(keys::kVolume).toString(), QStringLiteral("64"));
    }

    // Settings that cannot be written are said in the status line from the launch on, whatever
    // the sound does; quitting still runs through and reports the failed write.
    void unwritableSettings_statusLineSaysSoAtLaunch_quitGoesOn() {
        QVERIFY(QDir().mkpath(storePath));  // a folder in the file's place
        StderrCapture errors;
        {
            Launched app(storePath);
            QVERIFY(app.launched);
            Controller& c = app.controller;
            MainWindowView& v = c.view();
            QVERIFY2(v.statusText->text().endsWith(QStringLiteral(" · Settings will not be saved")),
                     qPrintable(v.statusText->text()));
            QVERIFY(v.statusText->toolTip().contains(storePath));
            v.volumeSlider->setValue(64);
            c.applicationWillTerminate();
        }
        QVERIFY(errors.text().contains(QStringLiteral("a folder stands in its place")));
        QVERIFY(QFileInfo(storePath).isDir());
    }

    void quit_afterChanges_writesEveryKeyWithItsType() {
        int shownHeight = 0;
        {
            Launched app(storePath);
            Controller& c = app.controller;
            MainWindowView& v = c.view();
            v.volumeSlider->setValue(33);
            QCOMPARE(c.renderer().volume.load(), 0.33);
            v.timeText->setTime(QTime(6, 30, 0));
            // Typed and not yet entered: what the field shows is what is saved.
            v.timeText->setSelectedSection(QDateTimeEdit::MinuteSection);
            QTest::keyClicks(v.timeText, QStringLiteral("45"));
            v.minutesText->setValue(20);
            QCOMPARE(c.schedule().fadeMinutes(), 0);  // off by default
            v.fadeChoice->setCurrentIndex(v.fadeChoice->findData(15));
            v.riseChoice->setCurrentIndex(v.riseChoice->findData(10));
            v.repeatCheckbox->click();
            QVERIFY(v.wavesFrame->isVisibleTo(v.window));
            shownHeight = v.window->height();
            v.showWavesAction->trigger();  // the View menu's item hides the picture
            QVERIFY(!v.wavesFrame->isVisibleTo(v.window));
            QTRY_COMPARE(v.window->height(), v.window->sizeHint().height());  // nothing left blank
            Preferences::sharedInstance().setLightWave(62.7);
            Preferences::sharedInstance().setBoostSoundLevel(true);
            c.exportFlow().setChosenFormat(QStringLiteral("flac"));
            c.exportFlow().lengthComboBox->setCurrentText(QStringLiteral("12.5"));
            // The panel's checkbox, as the user clears it.
            QSignalSpy keepAwake(&c, &Controller::keepAwakeChanged);
            c.showPreferences();
            QVERIFY(c.preferencesPanel().keepAwakeCheckbox->isChecked());
            c.preferencesPanel().keepAwakeCheckbox->click();
            QCOMPARE(keepAwake.size(), 1);
            QVERIFY(!c.keepAwake());
            // On, and off, by default.
            QVERIFY(c.preferencesPanel().keepPlayingCheckbox->isChecked());
            c.preferencesPanel().keepPlayingCheckbox->click();
            QVERIFY(!c.preferencesPanel().startAtLoginCheckbox->isChecked());
            c.preferencesPanel().startAtLoginCheckbox->click();
            c.applicationWillTerminate();
        }
        QSettings raw(storePath, QSettings::IniFormat);
        QCOMPARE(raw.value(keys::kVolume).toString(), QStringLiteral("33"));
        QCOMPARE(raw.value(keys::kHour).toString(), QStringLiteral("6"));
        QCOMPARE(raw.value(keys::kMinute).toString(), QStringLiteral("45"));
        QCOMPARE(raw.value(keys::kSecond).toString(), QStringLiteral("0"));
        QCOMPARE(raw.value(keys::kMinutes).toString(), QStringLiteral("20"));
        QCOMPARE(raw.value(keys::kLightWave).toString(), QStringLiteral("62"));
        QCOMPARE(raw.value(keys::kHeavyWave).toString(), QStringLiteral("100"));
        QCOMPARE(raw.value(keys::kAscent).toString(), QStringLiteral("50"));
        QCOMPARE(raw.value(keys::kDescent).toString(), QStringLiteral("50"));
        QCOMPARE(raw.value(keys::kWaveInterval).toString(), QStringLiteral("50"));
        QCOMPARE(raw.value(keys::kBoostSoundLevel).toString(), QStringLiteral("true"));
        QCOMPARE(raw.value(keys::kAmplitudeGenerator).toString(), QStringLiteral("true"));
        QCOMPARE(raw.value(keys::kKeepAwake).toString(), QStringLiteral("false"));
        QCOMPARE(raw.value(keys::kKeepPlayingWhenClosed).toString(), QStringLiteral("false"));
        QCOMPARE(raw.value(keys::kStartAtLogin).toString(), QStringLiteral("true"));
        QCOMPARE(raw.value(keys::kFadeMinutes).toString(), QStringLiteral("15"));
        QCOMPARE(raw.value(keys::kRiseMinutes).toString(), QStringLiteral("10"));
        QCOMPARE(raw.value(keys::kRepeatStart).toString(), QStringLiteral("true"));
        QCOMPARE(raw.value(keys::kShowWaves).toString(), QStringLiteral("false"));
        QVERIFY(!raw.contains(keys::kOutputSourceName));
        QVERIFY(raw.contains(QStringLiteral("BrinesongWindow")));

        // The next launch finds them all, and is no first launch.
        Launched again(storePath);
        QVERIFY(!again.controller.firstLaunch());
        QCOMPARE(again.controller.view().volumeSlider->value(), 33);
        QCOMPARE(again.controller.view().timeText->time(), QTime(6, 45));
        QCOMPARE(Preferences::sharedInstance().lightWave(), 62.0);
        QVERIFY(!again.controller.keepAwake());
        QCOMPARE(again.controller.exportFlow().chosenFormat(), QStringLiteral("flac"));
        QCOMPARE(again.controller.exportFlow().chosenMinutes().value_or(0), 12.5f);
        QCOMPARE(again.controller.view().fadeChoice->currentData().toInt(), 15);
        QCOMPARE(again.controller.view().riseChoice->currentData().toInt(), 10);
        QVERIFY(again.controller.view().repeatCheckbox->isChecked());
        QVERIFY(!again.controller.view().showWavesAction->isChecked());
        QVERIFY(!again.controller.view().wavesFrame->isVisibleTo(again.controller.view().window));
        again.controller.view().showWavesAction->trigger();
        QTRY_COMPARE(again.controller.view().window->height(), shownHeight);
        again.controller.showPreferences();
        QVERIFY(!again.controller.preferencesPanel().keepAwakeCheckbox->isChecked());
        QVERIFY(!again.controller.preferencesPanel().keepPlayingCheckbox->isChecked());
        QVERIFY(again.controller.preferencesPanel().startAtLoginCheckbox->isChecked());
    }

    // A hand-written file comes back unchanged, though the volume slider cannot show 37.5.
    void quit_noChangeByTheUser_writesBackWhatWasStored() {
        const QString stored = QStringLiteral(
            "VolumeKey=37.5\nHourKey=7\nMinuteKey=15\nSecondKey=30\nMinutesKey=2000\n"
            "LightWaveKey=62\nHeavyWaveKey=80\nAscentKey=40\nDescentKey=30\n"
            "kWaveIntervalKey=70\nKelvane.Brinesong.BoostSoundLevelKey=true\nKelvane.Brinesong."
            "AmplitudeGeneratorKey=false\nKelvane.Brinesong.OutputSourceNameKey=Headphones\n"
            // Not the program's, though nested below a key it removes when it has no value.
            "Kelvane.Brinesong.ExportFolderKey/note=kept");
        QFile file(storePath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[General]\n" + stored.toUtf8()) > 0);
        file.close();
        Launched(storePath).controller.showPreferences();  // and quits
        const QSettings written(storePath, QSettings::IniFormat);
        for (const QString& line : stored.split('\n')) {
            QCOMPARE(written.value(line.section('=', 0, 0)).toString(), line.section('=', 1));
        }
    }

    // Presets chosen, changed, saved under names of every kind, renamed, overwritten and deleted
    // are in the settings file after the quit, and the next launch finds them, and the current
    // one, as they were.
    void presets_savedRenamedDeleted_surviveQuitAndRelaunch_changedMarkFollows() {
        Preferences& model = Preferences::sharedInstance();
        const QString odd = QStringLiteral("#1 night/rain = [calm]; \\ \u00e4\u00df \u6d77");
        {
            Launched app(storePath);
            Controller& c = app.controller;
            MainWindowView& v = c.view();
            PresetChooser& presets = c.presets();
            QCOMPARE(v.presetChoice->currentIndex(), -1);  // none yet
            // The main window's pop-up, as the user picks from it.
            const int storm = v.presetChoice->findText(QStringLiteral("Storm"));
            v.presetChoice->setCurrentIndex(storm);
            emit v.presetChoice->activated(storm);
            QVERIFY(WaveValues::of(model).sameAs(shippedPresets()[2].values));
            QCOMPARE(model.waveInterval(), 0.0);
            c.showPreferences();
            PreferencesPanel& panel = c.preferencesPanel();
            QCOMPARE(panel.waveIntervalText->text(), QStringLiteral("0"));
            QCOMPARE(panel.presetChoice->currentText(), QStringLiteral("Storm"));

            // A slider moved away marks it in both pop-ups; moved back, the mark goes.
            panel.lightWaveSlider->setValue(505);
            QCOMPARE(v.presetChoice->currentText(), QStringLiteral("Storm (changed)"));
            QCOMPARE(panel.presetChoice->currentText(), QStringLiteral("Storm (changed)"));
            QVERIFY(!panel.savePresetButton->isEnabled());  // a shipped preset stays as it is
            QVERIFY(!panel.renamePresetButton->isEnabled());
            panel.lightWaveSlider->setValue(1000);
            QCOMPARE(v.presetChoice->currentText(), QStringLiteral("Storm"));
            panel.lightWaveSlider->setValue(505);

            // Names that are taken, in any case or language, or that are no names, are refused.
            for (const QString& taken :
                 {QStringLiteral("storm"), QStringLiteral("STURM"), QStringLiteral("  "),
                  QStringLiteral("a\nb"), QStringLiteral("\x1b]0;title\a"),
                  QStringLiteral("left\u202Eright")}) {
                QVERIFY2(!presets.saveAs(taken), qPrintable(taken));
            }
            QVERIFY(presets.saveAs(odd));
            QCOMPARE(v.presetChoice->currentText(), odd);
            QVERIFY(panel.renamePresetButton->isEnabled());
            QVERIFY(!panel.savePresetButton->isEnabled());  // nothing changed since
            // Through the panel's button: a taken name is said and asked again.
            QStringList labels;
            answerNameDialogs({QStringLiteral("steady SURF"), QStringLiteral(" Second ")}, &labels);
            panel.savePresetAsButton->click();
            QCOMPARE(labels.size(), 2);
            QVERIFY2(labels[1].contains(QStringLiteral("comes with Brinesong")),
                     qPrintable(labels[1]));
            QCOMPARE(presets.currentName(), QStringLiteral("Second"));
            QVERIFY(!presets.renameCurrent(
                QString(odd)
                    .replace(QStringLiteral("night"), QStringLiteral("NIGHT"))
                    .replace(QChar(0xe4), QChar(0xc4))));
            QVERIFY(presets.renameCurrent(QStringLiteral("Zweite")));
            panel.heavyWaveSlider->setValue(300);
            QVERIFY(panel.savePresetButton->isEnabled());
            panel.savePresetButton->click();  // overwrites the current preset
            QCOMPARE(v.presetChoice->currentText(), QStringLiteral("Zweite"));
            QVERIFY(presets.saveAs(QStringLiteral("Doomed")));
            QVERIFY(presets.deleteCurrent());
            QCOMPARE(v.presetChoice->currentIndex(), -1);
            QCOMPARE(userPresetNames(presets), (QStringList{odd, QStringLiteral("Zweite")}));
            QVERIFY(presets.choose(odd.toLower()));  // the name in any case
            c.applicationWillTerminate();
        }
        QCOMPARE(storedPresetNames(storePath), (QStringList{odd, QStringLiteral("Zweite")}));
        QCOMPARE(QSettings(storePath, QSettings::IniFormat).value(keys::kPreset).toString(), odd);

        model.setDeafaultValue();
        Launched again(storePath);
        PresetChooser& presets = again.controller.presets();
        QCOMPARE(userPresetNames(presets), (QStringList{odd, QStringLiteral("Zweite")}));
        QCOMPARE(again.controller.view().presetChoice->currentText(), odd);  // and unchanged
        QCOMPARE(model.lightWave(), 50.0);
        QVERIFY(presets.choose(QStringLiteral("Zweite")));
        QCOMPARE(model.heavyWave(), 30.0);
        QCOMPARE(model.lightWave(), 50.0);
    }

    // Entries that cannot be read are left out with a note each in the panel, beside the good
    // ones, and are written back as they were; so are keys no entry of this program holds, and an
    // array's size is written anew.
    void presets_damagedEntries_leftOutWithANote_keptInTheFile() {
        const auto entry = [](int number, const QString& name, const QString& values) {
            QString lines = QStringLiteral("%1\\name=%2\n").arg(number).arg(name);
            for (const QString& pair : values.split(QLatin1Char(' '))) {
                lines += QStringLiteral("%1\\%2\n").arg(number).arg(pair);
            }
            return lines;
        };
        const QString good = QStringLiteral(
            "lightWave=10 heavyWave=20 ascent=30 descent=40 waveInterval=50 boostSoundLevel=true "
            "amplitudeGenerator=false");
        QString ini =
            QStringLiteral("[General]\nKelvane.Brinesong.PresetKey=good TWO\n[Presets]\nsize=3\n");
        ini += entry(1, QStringLiteral("Good one"), good + " volume=80 comment=rainy");
        ini += entry(2, QStringLiteral("Not a number"), QString(good).replace("=10", "=a\x1b[2Jc"));
        ini += entry(3, QStringLiteral("Missing"), QString(good).remove("descent=40 "));
        ini += entry(4, QStringLiteral("Out of range"), QString(good).replace("=30", "=250"));
        ini += QStringLiteral("5\\lightWave=10\n");
        ini += entry(6, QStringLiteral("GOOD ONE"), good);
        ini += entry(7, QStringLiteral("Storm"), good);
        ini += entry(8, QStringLiteral("Good two"), QString(good).replace("=50", "=5"));
        ini += entry(9, QStringLiteral("Evil\u202E"), good);
        {
            QFile file(storePath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ini.toUtf8());
        }
        const QStringList everyEntry{QStringLiteral("Good one"),     QStringLiteral("Good two"),
                                     QStringLiteral("Not a number"), QStringLiteral("Missing"),
                                     QStringLiteral("Out of range"), QString(),
                                     QStringLiteral("GOOD ONE"),     QStringLiteral("Storm"),
                                     QStringLiteral("Evil\u202E")};
        for (int launch = 0; launch < 2; ++launch) {
            StderrCapture errors;
            {
                Launched app(storePath);
                QCOMPARE(userPresetNames(app.controller.presets()),
                         (QStringList{QStringLiteral("Good one"), QStringLiteral("Good two")}));
                QCOMPARE(app.controller.presets().currentName(), QStringLiteral("Good two"));
                QCOMPARE(Preferences::sharedInstance().waveInterval(), 50.0);  // not applied
                app.controller.showPreferences();
                const QLabel* said = app.controller.preferencesPanel().presetNotesText;
                QVERIFY(said->isVisibleTo(said->window()));
                const QString notes = said->toolTip();
                // A value's control characters are written out, never sent to a terminal.
                for (const char* note :
                     {"lightWave is 'a\\u{1b}[2Jc'", "descent is missing", "ascent is '250'",
                      "no name", "already a preset named \"Good one\"", "comes with Brinesong",
                      "cannot hold control characters"}) {
                    QVERIFY2(notes.contains(QLatin1String(note)), qPrintable(notes));
                }
                QCOMPARE(notes.count(QStringLiteral("is left out")), 7);
            }
            QVERIFY2(!errors.text().contains(QStringLiteral("left out")),
                     qPrintable(errors.text()));
            QCOMPARE(storedPresetNames(storePath), everyEntry);
        }
        QSettings raw(storePath, QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("Presets/3/lightWave")).toString(),
                 QStringLiteral("a\x1b[2Jc"));
        QCOMPARE(raw.value(QStringLiteral("Presets/1/volume")).toString(), QStringLiteral("80"));
        QCOMPARE(raw.value(QStringLiteral("Presets/1/comment")).toString(),
                 QStringLiteral("rainy"));
        QCOMPARE(raw.value(QStringLiteral("Presets/size")).toString(), QStringLiteral("9"));
    }

    // A preset saved is in the file at once, for the command line and against a crash, while the
    // other settings wait for the quit. On a full disk the panel says why the preset cannot be
    // saved, and keeps none that the file does not; a Quit from the window asks before it goes.
    // The disk is a small tmpfs of the test's own.
    void presets_writtenAtOnce_fullDiskSaidWhereTheUserActed() {
        const QByteArray disk = QFile::encodeName(folder->filePath(QStringLiteral("disk")));
        QVERIFY(QDir().mkpath(QFile::decodeName(disk)));
        if (::mount("tmpfs", disk.constData(), "tmpfs", 0, "size=64k") != 0) {
            QSKIP(qPrintable(QStringLiteral("a small tmpfs cannot be mounted here: %1")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)))));
        }
        const auto unmount = qScopeGuard([&] { ::umount2(disk.constData(), MNT_DETACH); });
        storePath = QFile::decodeName(disk) + QStringLiteral("/Brinesong.ini");
        {
            QFile file(storePath);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[General]\nVolumeKey=70\n"));
        }
        Launched app(storePath);
        Controller& c = app.controller;
        c.view().volumeSlider->setValue(20);
        QVERIFY(c.presets().saveAs(QStringLiteral("Kept")));
        QCOMPARE(storedPresetNames(storePath), QStringList{QStringLiteral("Kept")});
        QCOMPARE(QSettings(storePath, QSettings::IniFormat).value(keys::kVolume).toString(),
                 QStringLiteral("70"));

        QFile filler(QFile::decodeName(disk) + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
        }
        QFile file(storePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray whole = file.readAll();
        c.showPreferences();
        QVERIFY(!c.presets().saveAs(QStringLiteral("Lost")));
        const QMessageBox* alert = c.presets().failureAlert();
        QVERIFY(alert && alert->isVisible());
        QCOMPARE(alert->parentWidget(), c.preferencesPanel().panelWindow());
        QVERIFY2(alert->text().contains(QStringLiteral("No space left on device")),
                 qPrintable(alert->text()));
        QCOMPARE(userPresetNames(c.presets()), QStringList{QStringLiteral("Kept")});
        QCOMPARE(c.presets().currentName(), QStringLiteral("Kept"));
        QCOMPARE(c.view().presetChoice->currentText(), QStringLiteral("Kept"));

        QString said;
        answerMessage(QStringLiteral("Cancel"), &said);
        QVERIFY(!c.quit());  // the window stays
        QVERIFY2(said.contains(QStringLiteral("No space left on device")), qPrintable(said));
        answerMessage(QStringLiteral("Quit Anyway"), &said);
        QVERIFY(c.quit());
        QFile after(storePath);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), whole);  // whole, as the last write left it
    }

    // A name of any length fits the screen: shortened in its middle in the pop-ups and the tray,
    // whole in the tooltip; and a frame saved wider than the screen is fitted to it.
    void longPresetName_shortenedEverywhere_windowFitsTheScreen() {
        const QString name = QString(600, QLatin1Char('w')) + QStringLiteral("!");
        {
            Launched app(storePath);
            QVERIFY(app.controller.presets().saveAs(name));
            app.controller.view().window->setGeometry(0, 0, 32767, 400);  // as a long name made it
        }
        Launched app(storePath);
        MainWindowView& v = app.controller.view();
        QVERIFY(v.window->width() <= v.window->screen()->availableGeometry().width());
        QCOMPARE(v.presetChoice->currentText(), elidedName(name));
        QVERIFY(v.presetChoice->currentText().size() < 50);
        QCOMPARE(v.presetChoice->itemData(v.presetChoice->currentIndex(), Qt::ToolTipRole), name);
        QMenu* presets = app.controller.trayMenu().applicationDockMenu()->actions()[2]->menu();
        QVERIFY(menuItem(presets, elidedName(name)));
    }

    // The tray's submenus: a preset in one click; "Stop in 30 minutes" ticks the stop with 30
    // minutes and the fade-out chosen beside it; "Don't stop" unticks it.
    void tray_presetAndSleepTimer_eachOneClick() {
        Launched app(storePath);
        Controller& c = app.controller;
        MainWindowView& v = c.view();
        QMenu* tray = c.trayMenu().applicationDockMenu();
        QMenu* presets = tray->actions()[2]->menu();
        QVERIFY(presets);
        QCOMPARE(presets->actions().size(), int(shippedPresets().size()));
        const QActionGroup* group = presets->actions()[0]->actionGroup();  // radio items
        QVERIFY(group && group->isExclusive() && group->actions() == presets->actions());
        QVERIFY(!menuItem(presets, QStringLiteral("Storm"))->isChecked());
        menuItem(presets, QStringLiteral("Storm"))->trigger();
        QVERIFY(WaveValues::of(Preferences::sharedInstance()).sameAs(shippedPresets()[2].values));
        QCOMPARE(v.presetChoice->currentText(), QStringLiteral("Storm"));
        tray = c.trayMenu().applicationDockMenu();
        QVERIFY(menuItem(tray->actions()[2]->menu(), QStringLiteral("Storm"))->isChecked());
        Preferences::sharedInstance().setAscent(20);
        c.presets().settingsChanged();
        tray = c.trayMenu().applicationDockMenu();
        QVERIFY(
            menuItem(tray->actions()[2]->menu(), QStringLiteral("Storm (changed)"))->isChecked());

        v.fadeChoice->setCurrentIndex(v.fadeChoice->findData(15));
        QMenu* timer = tray->actions()[3]->menu();
        QVERIFY(menuItem(timer, QStringLiteral("Don't stop"))->isChecked());
        menuItem(timer, QStringLiteral("Stop in 30 minutes"))->trigger();
        QVERIFY(v.stopCheckbox->isChecked());
        QCOMPARE(v.minutesText->value(), 30);
        QVERIFY(c.schedule().willStop());
        QCOMPARE(c.schedule().fadeMinutes(), 15);
        // Ticked while nothing plays, it counts from the tick, and the status line says so.
        QCOMPARE(
            v.timeLeftText->text(),
            QStringLiteral("Fade-out begins at 07:15 (in 15 min), stops at 07:30 (in 30 min)"));
        QVERIFY(c.trayMenu().toolTip().endsWith(v.timeLeftText->text()));
        timer = c.trayMenu().applicationDockMenu()->actions()[3]->menu();
        QVERIFY(menuItem(timer, QStringLiteral("Stop in 30 minutes"))->isChecked());
        QVERIFY(!menuItem(timer, QStringLiteral("Stop in 15 minutes"))->isChecked());
        menuItem(timer, QStringLiteral("Don't stop"))->trigger();
        QVERIFY(!v.stopCheckbox->isChecked());
        QVERIFY(!c.schedule().willStop());
    }

    // The programme is edited in its own panel (reached from the tray), kept in order of its
    // minutes and written at once; it follows the presets' names; a failed write is said there.
    void nightProgramme_editedInItsPanel_savedAtOnce_followsPresetNames() {
        Launched app(storePath);
        Controller& c = app.controller;
        const auto stored = [this](const char* key) {
            return QSettings(storePath, QSettings::IniFormat).value(QLatin1String(key)).toString();
        };
        QVERIFY(c.presets().saveAs(QStringLiteral("Mine")));
        menuItem(c.trayMenu().applicationDockMenu(), QStringLiteral("Night Programme..."))
            ->trigger();
        NightPanel& night = c.nightPanel();
        QVERIFY(night.panelWindow()->isVisible());
        night.addStepButton->click();  // minute 30
        night.addStepButton->click();  // minute 60
        const auto cell = [&night](int row, int column) { return night.stepField(row, column); };
        auto* preset = qobject_cast<QComboBox*>(cell(1, 2));
        const int mine = preset->findData(QStringLiteral("Mine"));
        preset->setCurrentIndex(mine);
        emit preset->activated(mine);
        qobject_cast<QSpinBox*>(cell(1, 0))->setValue(10);  // now before the other
        QTRY_COMPARE(qobject_cast<QComboBox*>(cell(0, 2))->currentText(), QStringLiteral("Mine"));
        QCOMPARE(qobject_cast<QSpinBox*>(cell(1, 0))->value(), 30);
        QCOMPARE(stored("Night/1/preset"), QStringLiteral("Mine"));
        QCOMPARE(stored("Night/1/minute"), QStringLiteral("10"));
        QCOMPARE(stored("Night/2/preset"), shippedPresets().front().name);
        QCOMPARE(stored("Night/2/glide"), QStringLiteral("10"));

        QVERIFY(c.presets().renameCurrent(QStringLiteral("Ours")));
        QCOMPARE(stored("Night/1/preset"), QStringLiteral("Ours"));
        QVERIFY(c.presets().deleteCurrent());
        QTRY_COMPARE(qobject_cast<QComboBox*>(cell(0, 2))->currentText(),
                     QStringLiteral("Ours (missing)"));
        QVERIFY2(night.nightNotesText->text().contains(QStringLiteral("skipped")),
                 qPrintable(night.nightNotesText->text()));
        night.nightEnabledCheckbox->click();
        QCOMPARE(stored("Night/enabled"), QStringLiteral("false"));
        qobject_cast<QPushButton*>(cell(0, 3))->click();
        QTRY_VERIFY(cell(0, 0) && !cell(1, 0));
        QVERIFY(stored("Night/2/preset").isEmpty());

        QVERIFY(QFile::remove(storePath) && QDir().mkpath(storePath));  // now it cannot be written
        qobject_cast<QSpinBox*>(cell(0, 1))->setValue(20);
        QVERIFY2(night.nightNotesText->text().contains(QStringLiteral("could not be saved")) &&
                     night.nightNotesText->text().contains(storePath),
                 qPrintable(night.nightNotesText->text()));
    }

    // A night set in the window runs through a scheduled start: the status line says what comes
    // next, a preset chosen while it plays glides in (the picture marks it), and a change-over and
    // the wander chosen in the preferences are kept.
    void nightProgramme_scheduledStart_statusSaysWhatComesNext_presetGlidesIn() {
        if (!soundServerAvailable()) {
            QSKIP("no PulseAudio server: run under scripts/test.sh");
        }
        {
            QSettings seed(storePath, QSettings::IniFormat);
            seed.setValue(QStringLiteral("Night/1/preset"), QStringLiteral("Steady surf"));
            seed.setValue(QStringLiteral("Night/1/minute"), 30);
            seed.setValue(QStringLiteral("Night/2/preset"), QStringLiteral("Gone"));
            seed.setValue(QStringLiteral("Night/2/minute"), 20);
        }
        StderrCapture errors;
        Launched app(storePath);
        Controller& c = app.controller;
        MainWindowView& v = c.view();
        QVERIFY(c.presets().choose(QStringLiteral("Calm cove")));
        v.dateText->setDate(kMorning.date());
        v.timeText->setTime(kMorning.time());
        v.startCheckbox->click();  // due now: starts at once
        QTRY_VERIFY(c.isPlaying());
        const QString next =
            QStringLiteral("Playing · Calm cove → Steady surf at 07:30 (in 30 min)");
        QTRY_VERIFY2(v.statusText->text() == next, qPrintable(v.statusText->text()));
        QVERIFY(c.trayMenu().toolTip().endsWith(next));
        QVERIFY(errors.text().contains(QStringLiteral("'Gone', which no longer exists")));
        QTRY_VERIFY(c.playbackEngine().nightSeconds() > 0.0);
        const WaveHistory& heard = v.wavePicture->history();
        QTRY_VERIFY(heard.end() > 44100 / 2);
        QVERIFY(!heard.column(0, heard.end()).gliding);  // no step has begun

        c.showPreferences();
        PreferencesPanel& panel = c.preferencesPanel();
        QCOMPARE(panel.changeOverChoice->currentData().toInt(), 5);
        const int storm = v.presetChoice->findText(QStringLiteral("Storm"));
        v.presetChoice->setCurrentIndex(storm);
        emit v.presetChoice->activated(storm);
        QTRY_VERIFY(heard.column(0, heard.end()).gliding);
        QTRY_VERIFY2(v.statusText->text().startsWith(QStringLiteral("Playing · Storm → ")),
                     qPrintable(v.statusText->text()));

        const int halfMinute = panel.changeOverChoice->findData(30);
        panel.changeOverChoice->setCurrentIndex(halfMinute);
        emit panel.changeOverChoice->activated(halfMinute);
        panel.wanderSlider->setValue(20);
        QCOMPARE(Preferences::sharedInstance().wander(), 20.0);
        QCOMPARE(panel.wanderText->text(), QStringLiteral("20"));
        c.playStop();
        QTRY_VERIFY(!c.isPlaying());
        QTRY_COMPARE(v.statusText->text(), QStringLiteral("Stopped"));
        c.applicationWillTerminate();
        const QSettings saved(storePath, QSettings::IniFormat);
        QCOMPARE(saved.value(keys::kChangeOverSeconds).toInt(), 30);
        QCOMPARE(saved.value(keys::kWander).toDouble(), 20.0);
        Preferences::sharedInstance().setWander(0.0);
    }

    void quit_storedDeviceName_keptForTheDeviceList() {
        {
            SettingsStore seed(storePath);
            seed.setString(QStringLiteral("Desk Speakers"), keys::kOutputSourceName);
            QVERIFY(seed.synchronize());
        }
        { Launched app(storePath); }
        QSettings raw(storePath, QSettings::IniFormat);
        QCOMPARE(raw.value(keys::kOutputSourceName).toString(), QStringLiteral("Desk Speakers"));
    }

    void playback_wholeRun_titlesAndMenusFollowTheState() {
        if (!soundServerAvailable()) {
            QSKIP("no PulseAudio server: run under scripts/test.sh");
        }
        Launched app(storePath);
        Controller& c = app.controller;
        MainWindowView& v = c.view();
        QVERIFY(c.isOutputOpen());
        QSignalSpy states(&c, &Controller::playStateChanged);

        v.playStopButton->click();
        QVERIFY(c.isPlaying());
        QCOMPARE(states.size(), 1);
        QCOMPARE(states.last().at(0).toBool(), true);
        QCOMPARE(v.playStopButton->text(), QStringLiteral("Stop Brinesong"));
        QCOMPARE(v.playStopAction->text(), QStringLiteral("Stop"));
        QVERIFY(v.playStopAction->isEnabled());
        QVERIFY(!v.exportAction->isEnabled());
        // The tray's menu: play/stop, the presets, the sleep timer and the night programme, then
        // what a dock always offers.
        QMenu* tray = c.trayMenu().applicationDockMenu();
        QCOMPARE(tray->actions().size(), 8);
        QCOMPARE(tray->actions()[0]->text(), QStringLiteral("Stop"));
        QVERIFY(tray->actions()[0]->isEnabled());
        QVERIFY(tray->actions()[1]->isSeparator());
        QCOMPARE(tray->actions()[2]->text(), QStringLiteral("Presets"));
        QCOMPARE(tray->actions()[3]->text(), QStringLiteral("Sleep Timer"));
        QCOMPARE(tray->actions()[4]->text(), QStringLiteral("Night Programme..."));
        QVERIFY(tray->actions()[5]->isSeparator());
        QCOMPARE(tray->actions()[6]->text(), QStringLiteral("Show Brinesong"));
        QCOMPARE(tray->actions()[7]->text(), QStringLiteral("Quit"));
        c.saveAs();  // offered only while stopped
        QVERIFY(!c.isSaving());

        // The server pulls buffers from the renderer.
        QTRY_VERIFY(framesHandedOut(c) > 4410);
        QCOMPARE(v.statusText->text(), QStringLiteral("Playing"));
        QCOMPARE(c.trayMenu().toolTip(), QStringLiteral("Brinesong: Playing"));

        v.playStopAction->trigger();
        // Fading out: still playing and titled so until the wait thread has ended the playback;
        // another request changes nothing.
        QCOMPARE(v.playStopButton->text(), QStringLiteral("Stop Brinesong"));
        c.playStop();
        QVERIFY(states.wait(5000));
        QVERIFY(!c.isPlaying());
        QCOMPARE(states.size(), 2);
        QCOMPARE(states.last().at(0).toBool(), false);
        QCOMPARE(v.statusText->text(), QStringLiteral("Stopped"));
        QCOMPARE(v.playStopButton->text(), QStringLiteral("Start Brinesong"));
        QCOMPARE(v.playStopAction->text(), QStringLiteral("Start"));
        QVERIFY(v.exportAction->isEnabled());
        tray = c.trayMenu().applicationDockMenu();
        QCOMPARE(tray->actions().size(), 8);  // refilled, not added to
        QCOMPARE(tray->actions()[0]->text(), QStringLiteral("Start"));

        // The tray item starts it like the button.
        tray->actions()[0]->trigger();
        QVERIFY(c.isPlaying());
        v.window->activateWindow();
        QTRY_VERIFY(v.window->isActiveWindow());
        QTest::keyClick(v.window, Qt::Key_Escape);
        QVERIFY(states.wait(5000));
        QCOMPARE(states.last().at(0).toBool(), false);
        QVERIFY(!c.isPlaying());
        c.cancel();  // while stopped: nothing
        QVERIFY(!c.isPlaying());
    }

    // Keys as the window system delivers them: Escape closes an open pop-up before it stops the
    // sound, and Space starts and stops the sound except where it is typed. Without a server a
    // start waits for it, counting as playing, and a stop ends the wait at once, with no fade to
    // wait out.
    void keys_escapeClosesAPopUpFirst_spaceOutsideTextFields() {
        const QByteArray server = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/brinesong/native");
        const auto restore = qScopeGuard([&server] {
            if (server.isNull()) {
                qunsetenv("PULSE_SERVER");
            } else {
                qputenv("PULSE_SERVER", server);
            }
        });
        Launched app(storePath);
        Controller& c = app.controller;
        MainWindowView& v = c.view();
        v.window->activateWindow();
        QTRY_VERIFY(v.window->isActiveWindow());
        QWindow* screenWindow = v.window->windowHandle();

        v.volumeSlider->setFocus();
        QTest::keyClick(screenWindow, Qt::Key_Space);
        QVERIFY(c.isPlaying());
        v.fadeChoice->showPopup();
        QTRY_VERIFY(QApplication::activePopupWidget());
        QTest::keyClick(screenWindow, Qt::Key_Escape);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QVERIFY(c.isPlaying());
        QTest::keyClick(screenWindow, Qt::Key_Escape);
        QVERIFY(!c.isPlaying());

        v.timeText->setFocus();
        QTest::keyClick(screenWindow, Qt::Key_Space);
        QVERIFY(!c.isPlaying());
        v.volumeSlider->setFocus();
        QTest::keyClick(screenWindow, Qt::Key_Space);
        QVERIFY(c.isPlaying());
        QTest::keyClick(screenWindow, Qt::Key_Space);
        QVERIFY(!c.isPlaying());
    }

    // Without a server the window says so in its status line and tooltip; a start waits for the
    // server, titled as playing; a stop coming due on the schedule ends the wait.
    void noServer_statusSaysSo_startWaits_aScheduledStopEndsTheWait() {
        const QByteArray server = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/brinesong/native");
        {
            QDateTime now = kMorning;
            Launched app(
                storePath, [&now] { return now; }, Schedule::kMinuteMs);
            Controller& c = app.controller;
            MainWindowView& v = c.view();
            const QString waiting = QStringLiteral("Waiting for the sound server");
            QTRY_COMPARE(v.statusText->text(), waiting);
            QCOMPARE(c.trayMenu().toolTip(), QStringLiteral("Brinesong: ") + waiting);

            v.playStopButton->click();
            QVERIFY(c.isPlaying());
            QCOMPARE(framesHandedOut(c), uint64_t{0});  // nothing sounds: it waits
            QCOMPARE(v.playStopButton->text(), QStringLiteral("Stop Brinesong"));
            QCOMPARE(v.playStopAction->text(), QStringLiteral("Stop"));
            QVERIFY(!v.exportAction->isEnabled());
            QCOMPARE(v.statusText->text(), waiting);

            v.minutesText->setValue(1);
            v.stopCheckbox->click();
            now = now.addSecs(60);
            c.schedule().checkStop();
            QVERIFY(!c.isPlaying());
            QCOMPARE(v.playStopButton->text(), QStringLiteral("Start Brinesong"));
            QCOMPARE(v.statusText->text(), waiting);
        }
        if (server.isNull()) {
            qunsetenv("PULSE_SERVER");
        } else {
            qputenv("PULSE_SERVER", server);
        }
    }

    void exporting_menusAndTrayDisabled_andNothingPlays() {
        Launched app(storePath);
        Controller& c = app.controller;
        MainWindowView& v = c.view();
        QTemporaryDir target;
        bool checked = false;
        connect(&c.exportFlow(), &ExportFlow::writingStarted, this, [&] {
            QVERIFY(c.isSaving());
            QVERIFY(!v.playStopAction->isEnabled());
            QVERIFY(!v.exportAction->isEnabled());
            QMenu* tray = c.trayMenu().applicationDockMenu();
            QVERIFY(!tray->actions()[0]->isEnabled());
            // An export keeps the settings it started with.
            QVERIFY(!tray->actions()[2]->isEnabled());
            QVERIFY(tray->actions().last()->isEnabled());  // quitting stays possible
            c.playStop();
            QVERIFY(!c.isPlaying());
            checked = true;
            c.exportFlow().cancelButton();
        });
        QSignalSpy ended(&c.exportFlow(), &ExportFlow::exportEnded);
        v.exportAction->trigger();
        QVERIFY(c.isSaving());
        QVERIFY(!v.playStopAction->isEnabled());
        c.exportFlow().lengthComboBox->setCurrentText(QStringLiteral("30"));
        c.exportFlow().savePanel()->selectFile(target.filePath(QStringLiteral("Tide")));
        static_cast<QDialog*>(c.exportFlow().savePanel())->accept();
        QVERIFY(ended.wait(60000));
        QVERIFY(checked);
        QVERIFY(!QFileInfo::exists(target.filePath(QStringLiteral("Tide.aif"))));
        QVERIFY(v.playStopAction->isEnabled());
        QVERIFY(v.exportAction->isEnabled());
    }

    // A start that comes due while an export writes is decided then, on the simulated clock: it
    // is dropped and unticked at once, and does not wait for the sheet to close to begin.
    // A start with a fade-in starts the sound rising, and the status line says until when; a stop
    // by hand ends the rise and what is said of it.
    void startWithFadeIn_risesAndTheStatusLineSaysWhenFullLevelComes() {
        if (!soundServerAvailable()) {
            QSKIP("no PulseAudio server: run under scripts/test.sh");
        }
        Launched app(storePath);
        Controller& c = app.controller;
        MainWindowView& v = c.view();
        v.riseChoice->setCurrentIndex(v.riseChoice->findData(1));
        v.dateText->setDate(kMorning.date());
        v.timeText->setTime(kMorning.time());
        v.startCheckbox->click();  // due now: starts at once
        QTRY_VERIFY(c.isPlaying());
        const QString full = QStringLiteral("Fading in, full level at 07:01");
        QTRY_VERIFY2(v.statusText->text().endsWith(full), qPrintable(v.statusText->text()));
        c.playStop();
        QTRY_VERIFY(!c.isPlaying());
        QTRY_VERIFY2(v.statusText->text() == QStringLiteral("Stopped"),
                     qPrintable(v.statusText->text()));
        c.playStop();  // by hand: the short fade-in, nothing said of a rise
        QTRY_VERIFY(c.isPlaying());
        QTRY_COMPARE(v.statusText->text(), QStringLiteral("Playing"));
        c.playStop();
        QTRY_VERIFY(!c.isPlaying());
    }

    void startDue_duringExport_droppedAtOnceAndUnticked() {
        auto now = std::make_shared<QDateTime>(kMorning);
        Launched app(
            storePath, [now] { return *now; }, 10);
        Controller& c = app.controller;
        MainWindowView& v = c.view();
        QTemporaryDir target;
        v.dateText->setDate(kMorning.date());
        v.timeText->setTime(QTime(7, 30, 0));
        v.startCheckbox->click();
        QVERIFY(c.schedule().willStart());
        // The status line and the tray say when it comes.
        QVERIFY2(v.statusText->text().endsWith(QStringLiteral(" · Starts at 07:30 (in 30 min)")),
                 qPrintable(v.statusText->text()));
        QVERIFY(c.trayMenu().toolTip().endsWith(QStringLiteral(" · Starts at 07:30 (in 30 min)")));
        bool firedWhileSaving = false;
        connect(&c.schedule(), &Schedule::startFired, this, [&] {
            firedWhileSaving = c.isSaving();
            c.exportFlow().cancelButton();
        });
        connect(&c.exportFlow(), &ExportFlow::writingStarted, this,
                [now] { *now = kMorning.addSecs(30 * 60); });
        QSignalSpy ended(&c.exportFlow(), &ExportFlow::exportEnded);
        c.saveAs();
        c.exportFlow().lengthComboBox->setCurrentText(QStringLiteral("30"));
        c.exportFlow().savePanel()->selectFile(target.filePath(QStringLiteral("Tide")));
        static_cast<QDialog*>(c.exportFlow().savePanel())->accept();
        QVERIFY(ended.wait(60000));
        QVERIFY(firedWhileSaving);
        QVERIFY(!v.startCheckbox->isChecked());
        QVERIFY(!c.schedule().willStart());
        QVERIFY(!c.isPlaying());
    }

    // The folder chosen is kept too: the next run's dialog opens there.
    void quit_whileExporting_writerStopsAndSettingsAreWritten() {
        QTemporaryDir target;
        {
            Launched app(storePath);
            Controller& c = app.controller;
            connect(&c.exportFlow(), &ExportFlow::writingStarted, this,
                    [&c] { c.applicationWillTerminate(); });
            QSignalSpy ended(&c.exportFlow(), &ExportFlow::exportEnded);
            c.saveAs();
            c.exportFlow().lengthComboBox->setCurrentText(QStringLiteral("60"));
            c.exportFlow().savePanel()->selectFile(target.filePath(QStringLiteral("Ebb")));
            static_cast<QDialog*>(c.exportFlow().savePanel())->accept();
            QVERIFY(ended.wait(60000));
            QCOMPARE(ended.at(0).at(0).toBool(), false);
            QVERIFY(!c.exportFlow().failureAlert());
            QVERIFY(!QFileInfo::exists(target.filePath(QStringLiteral("Ebb.aif"))));
            const QSettings written(storePath, QSettings::IniFormat);
            QVERIFY(written.contains(keys::kVolume));
            QCOMPARE(written.value(keys::kExportFolder).toString(), target.path());
        }
        Launched again(storePath);
        ExportFlow& flow = again.controller.exportFlow();
        again.controller.saveAs();
        QVERIFY(flow.savePanel()->isVisible());
        QCOMPARE(flow.savePanel()->directory().absolutePath(), target.path());
        flow.savePanel()->reject();
        QTRY_VERIFY(!flow.saving());
    }

    void quit_whilePlaying_soundEndsBeforeTheOutputCloses() {
        if (!soundServerAvailable()) {
            QSKIP("no PulseAudio server: run under scripts/test.sh");
        }
        Launched app(storePath);
        Controller& c = app.controller;
        c.playStop();
        QTRY_VERIFY(framesHandedOut(c) > 4410);
        c.applicationWillTerminate();
        QVERIFY(!c.isPlaying());
        QVERIFY(c.playbackEngine().rendering()->forceStopFinished.load());
        QVERIFY(!c.isOutputOpen());
        QVERIFY(QSettings(storePath, QSettings::IniFormat).contains(keys::kVolume));
    }

    // Qt quits when the last window without a parent closes; the panels belong to the main
    // window, so closing it quits even while they are open.
    void panels_belongToTheMainWindow_soClosingItQuits() {
        Launched app(storePath);
        Controller& c = app.controller;
        MainWindowView& v = c.view();
        v.showHelp();
        c.showPreferences();
        QWidget* help = HelpPanel::sharedInstance().window;
        QWidget* panel = c.preferencesPanel().panelWindow();
        for (QWidget* w : {help, panel}) {
            QVERIFY(w->isWindow());
            QCOMPARE(w->parentWidget(), v.window.data());
        }
        QVERIFY(QGuiApplication::quitOnLastWindowClosed());
    }

    // The tray's icon stands out on a light panel and on a dark one: an eighth of it or more
    // differs from the panel by a contrast of 3 to 1 (the light grey it had reached 1.9 on white).
    void trayIcon_standsOutOnLightAndDarkPanels() {
        const QImage icon = symbolicIcon().pixmap(22).toImage().convertToFormat(
            QImage::Format_ARGB32_Premultiplied);
        QVERIFY(!icon.isNull());
        for (const QColor& panel : {QColor(Qt::white), QColor(0xef, 0xef, 0xef),
                                    QColor(0x2b, 0x2b, 0x2b), QColor(Qt::black)}) {
            QImage shown(icon.size(), QImage::Format_RGB32);
            shown.fill(panel);
            QPainter(&shown).drawImage(0, 0, icon);
            int standingOut = 0;
            for (int y = 0; y < shown.height(); ++y) {
                for (int x = 0; x < shown.width(); ++x) {
                    standingOut += contrast(QColor(shown.pixel(x, y)), panel) >= 3.0;
                }
            }
            QVERIFY2(standingOut * 8 >= shown.width() * shown.height(),
                     qPrintable(QStringLiteral("%1 of %2 pixels stand out on %3")
                                    .arg(standingOut)
                                    .arg(shown.width() * shown.height())
                                    .arg(panel.name())));
        }
    }

    // Tab reaches every control of the main window and of each panel once, in reading order: the
    // next control lies right of the last on its row, or on a row below it.
    void keyboard_tabReachesEveryControlInReadingOrder() {
        Launched app(storePath);
        Controller& c = app.controller;
        c.showPreferences();
        // A preset of the user's, changed: every preset command is enabled, so Tab reaches it.
        QVERIFY(c.presets().saveAs(QStringLiteral("Mine")));
        c.preferencesPanel().lightWaveSlider->setValue(10);
        QVERIFY(c.preferencesPanel().savePresetButton->isEnabled());
        c.view().showHelp();
        for (QWidget* window :
             {static_cast<QWidget*>(c.view().window.data()), c.preferencesPanel().panelWindow(),
              HelpPanel::sharedInstance().window.data()}) {
            window->activateWindow();
            QTRY_VERIFY(window->isActiveWindow());
            QWidgetList controls;
            for (QWidget* w : window->findChildren<QWidget*>()) {
                const bool control = qobject_cast<QAbstractButton*>(w) ||
                                     qobject_cast<QAbstractSlider*>(w) ||
                                     qobject_cast<QAbstractSpinBox*>(w) ||
                                     qobject_cast<QComboBox*>(w) || qobject_cast<QTextEdit*>(w);
                if (control && w->window() == window && w->isVisibleTo(window) &&
                    (w->focusPolicy() & Qt::TabFocus)) {
                    controls << w;
                }
            }
            QVERIFY(controls.size() >= 2);
            controls.first()->setFocus(Qt::TabFocusReason);
            QCOMPARE(focusedControl(window), controls.first());
            const QWidgetList order = tabOrder(window);
            QCOMPARE(QSet<QWidget*>(order.begin(), order.end()),
                     QSet<QWidget*>(controls.begin(), controls.end()));
            // The walk is a ring: it is read from its top left control on.
            const auto top = [window](QWidget* w) { return w->mapTo(window, QPoint()).y(); };
            const auto left = [window](QWidget* w) { return w->mapTo(window, QPoint()).x(); };
            const auto first = std::min_element(order.begin(), order.end(), [&](auto* a, auto* b) {
                return std::pair(top(a), left(a)) < std::pair(top(b), left(b));
            });
            QWidgetList reading =
                order.mid(first - order.begin()) + order.mid(0, first - order.begin());
            for (qsizetype i = 1; i < reading.size(); ++i) {
                QWidget* a = reading[i - 1];
                QWidget* b = reading[i];
                const bool sameRow = top(b) < top(a) + a->height() && top(a) < top(b) + b->height();
                QVERIFY2(
                    sameRow ? left(b) >= left(a) + a->width() : top(b) >= top(a) + a->height(),
                    qPrintable(a->objectName() + QStringLiteral(" before ") + b->objectName()));
            }
        }
    }

    void validateMenuItem_otherCommands_alwaysEnabled() {
        Launched app(storePath);
        Controller& c = app.controller;
        MainWindowView& v = c.view();
        QVERIFY(v.validateMenuItem(v.preferencesAction));
        QVERIFY(v.validateMenuItem(v.helpAction));
        QVERIFY(v.validateMenuItem(v.quitAction));
        v.preferencesAction->trigger();
        QVERIFY(c.preferencesPanel().panelWindow()->isVisible());
        QCOMPARE(c.preferencesPanel().lightWaveText->text(), QStringLiteral("75"));

        // The Help menu's About box: the released version (the newest in the metainfo, which
        // the install check holds --version to), what it is, the licence.
        QVERIFY(v.validateMenuItem(v.aboutAction));
        QVERIFY(v.window->findChild<QMenu*>(QStringLiteral("helpMenu"))
                    ->actions()
                    .contains(v.aboutAction));
        const QString release =
            inMetainfo(QStringLiteral("<release version=\"([^\"]+)\"")).captured(1);
        QVERIFY(!release.isEmpty());
        v.aboutAction->trigger();
        QPointer<QMessageBox> about = v.aboutBox;
        QVERIFY(about && about->isVisible());
        QCOMPARE(about->parentWidget(), v.window.data());
        QCOMPARE(about->windowTitle(), QStringLiteral("About Brinesong"));
        const QString text = about->text();
        QVERIFY2(text.contains(QStringLiteral("Brinesong ") + release) &&
                     text.contains(QStringLiteral("GNU GPL version 3 or later")) &&
                     text.contains(QStringLiteral("ocean surf")),
                 qPrintable(text));
        QVERIFY(!about->iconPixmap().isNull());
        v.showAbout();  // open: the same box comes to the front
        QCOMPARE(v.aboutBox.data(), about.data());
        about->button(QMessageBox::Close)->click();
        QTRY_VERIFY(!about);
    }

private:
    std::unique_ptr<QTemporaryDir> folder;
    QString storePath;
};

QTEST_MAIN(ControllerTest)
#include "controller_test.moc"
