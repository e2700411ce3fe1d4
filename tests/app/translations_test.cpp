// SPDX-License-Identifier: GPL-3.0-or-later
// The window under a German locale (the test runs with LANG=de_DE.UTF-8): every text it shows,
// in the main window, its menus, the panels, the export sheets and the tray's menu, is one of the
// German table's translations, so no text bypasses the table and none lacks a German entry.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimeEdit>
#include <QXmlStreamReader>
#include <QtTest>
#include <algorithm>

#include "app/Controller.h"
#include "platform/Localization.h"
#include "platform/PulseOutputUnit.h"
#include "platform/SettingsStore.h"
#include "window/HelpPanel.h"

using namespace brinesong;

namespace {

QSet<QString> germanTranslations() {
    QSet<QString> texts;
    QFile table(QStringLiteral(BRINESONG_SOURCE_DIR "/resources/translations/brinesong_de.ts"));
    if (!table.open(QIODevice::ReadOnly)) {
        return texts;
    }
    QXmlStreamReader xml(&table);
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (xml.isStartElement() && xml.name() == QLatin1String("translation")) {
            texts.insert(xml.readElementText());
        } else {
            xml.readNext();
        }
    }
    return texts;
}

// Inside Qt's file dialog; its own texts come from Qt's table, only our accessory from ours.
bool inFileDialog(const QObject* object, const QObject* root) {
    for (; object && object != root; object = object->parent()) {
        if (qobject_cast<const QFileDialog*>(object)) {
            return true;
        }
    }
    return false;
}

// The texts a person sees in `root` and its children; values the program computes (numbers, the
// date and time fields) are left out.
QStringList shownTexts(QWidget* root) {
    QStringList texts{root->windowTitle()};
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (inFileDialog(widget, root)) {
            continue;
        }
        texts << widget->toolTip();
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            texts << label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            texts << button->text();
        } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
            texts << box->title();
        } else if (auto* menu = qobject_cast<QMenu*>(widget)) {
            texts << menu->title();
        }
    }
    for (QAction* action : root->findChildren<QAction*>()) {
        if (inFileDialog(action, root)) {
            continue;
        }
        texts << action->text();
    }
    QStringList shown;
    for (const QString& text : texts) {
        bool number = false;
        text.toDouble(&number);
        if (!text.trimmed().isEmpty() && !number) {
            shown << text;
        }
    }
    return shown;
}

}  // namespace

class TranslationsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QCOMPARE(QLocale().language(), QLocale::German);
        installTranslations(*QCoreApplication::instance());
    }

    void germanLocale_everyShownTextIsFromTheGermanTable() {
        const QSet<QString> german = germanTranslations();
        QVERIFY(german.size() > 40);
        QTemporaryDir folder;
        PulseConnection connection;
        PulseOutputUnit unit(connection);
        SettingsStore store(folder.filePath(QStringLiteral("Brinesong.ini")));
        Controller controller(unit, store);
        QVERIFY(controller.awakeFromNib());
        MainWindowView& view = controller.view();
        controller.showPreferences();
        view.showHelp();
        QWidget* preferences = controller.preferencesPanel().panelWindow();
        QWidget* help = HelpPanel::sharedInstance().window;
        QVERIFY(preferences && help);

        QCOMPARE(view.playStopButton->text(), QStringLiteral("Brandung starten"));
        QCOMPARE(preferences->windowTitle(), QStringLiteral("Einstellungen"));
        QCOMPARE(help->windowTitle(), QStringLiteral("Brinesong-Hilfe"));
        QVERIFY(help->findChild<QTextBrowser*>()->toPlainText().contains(
            QStringLiteral("erzeugt das Rauschen der Brandung")));

        // The About box, and the schedule's fields in the German short formats.
        view.showAbout();
        QCOMPARE(view.aboutBox->windowTitle(), QStringLiteral("Über Brinesong"));
        QVERIFY(view.aboutBox->text().contains(
            QStringLiteral("Lizenz: GNU GPL Version 3 oder später.")));
        delete view.aboutBox.data();  // its text is composed, and checked above
        QCOMPARE(view.dateText->displayFormat(), QStringLiteral("dd.MM.yyyy"));
        QCOMPARE(view.timeText->displayFormat(), QStringLiteral("HH:mm"));

        QStringList shown = shownTexts(view.window) + shownTexts(preferences) + shownTexts(help) +
                            shownTexts(controller.trayMenu().applicationDockMenu()) +
                            shownTexts(controller.exportFlow().savePanelAccessoryView);
        for (QComboBox* popUp : preferences->findChildren<QComboBox*>()) {
            for (int i = 0; i < popUp->count(); ++i) {
                if (popUp->itemText(i) == Texts::tr("No output device")) {
                    shown << popUp->itemText(i);
                }
            }
        }
        QVERIFY(shown.size() > 30);
        // A text with a number the program fills in ("In 15 Minuten anhalten") matches its
        // translation with the number's place held ("In %1 Minuten anhalten").
        const QRegularExpression place(QStringLiteral("%\\d"));
        QList<QRegularExpression> withNumbers;
        for (const QString& translation : german) {
            if (translation.contains(place)) {
                QStringList parts = translation.split(place);
                for (QString& part : parts) {
                    part = QRegularExpression::escape(part);
                }
                withNumbers << QRegularExpression(
                    QRegularExpression::anchoredPattern(parts.join(QStringLiteral("\\d+"))));
            }
        }
        for (const QString& text : shown) {
            const bool filledIn = std::any_of(withNumbers.begin(), withNumbers.end(),
                                              [&text](const QRegularExpression& pattern) {
                                                  return pattern.match(text).hasMatch();
                                              });
            QVERIFY2(german.contains(text) || filledIn,
                     qPrintable(QStringLiteral("not German: ") + text));
        }
        controller.applicationWillTerminate();
    }
};

QTEST_MAIN(TranslationsTest)
#include "translations_test.moc"
