// The sleep inhibitor against stand-ins of the portal and of logind on the test's private bus
// (the test runs under its own dbus-run-session; no portal or logind runs on the test machine).
#include <QtTest>

#include "platform/SleepInhibitor.h"
#include "support/SleepServiceStandIns.h"

using namespace brinesong;
using brinesong::testing::LogindStandIn;
using brinesong::testing::PortalStandIn;
using Holder = SleepInhibitor::Holder;

class SleepInhibitorTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            QSKIP("no session bus: the test runs under dbus-run-session (see its CMakeLists)");
        }
        // logind lives on the system bus; here it is the private bus too.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    }

    void portal_whilePlaying_suspendInhibitedThenReleased() {
        PortalStandIn portal;
        QVERIFY(portal.registered());
        SleepInhibitor inhibitor;
        inhibitor.setPlaying(true);
        QTRY_COMPARE(inhibitor.holder(), Holder::Portal);
        QCOMPARE(portal.calls.size(), 1);
        QCOMPARE(portal.calls[0].flags, 4u);  // suspend only: the screen may still blank
        QVERIFY(!portal.calls[0].reason.isEmpty());

        inhibitor.setPlaying(false);
        QCOMPARE(inhibitor.holder(), Holder::None);
        QTRY_COMPARE(portal.closed, QStringList{portal.calls[0].handle});

        // The next playback asks again; quitting while it plays gives it back.
        {
            SleepInhibitor again;
            again.setPlaying(true);
            QTRY_COMPARE(again.holder(), Holder::Portal);
        }
        QCOMPARE(portal.calls.size(), 2);
        QTRY_COMPARE(portal.closed.size(), 2);
        QCOMPARE(portal.closed[1], portal.calls[1].handle);
    }

    void stoppedBeforeTheAnswer_releasedAsItComes() {
        PortalStandIn portal;
        SleepInhibitor inhibitor;
        inhibitor.setPlaying(true);
        inhibitor.setPlaying(false);
        inhibitor.setPlaying(true);
        inhibitor.setPlaying(false);
        QTRY_VERIFY(!inhibitor.isAsking());
        QCOMPARE(portal.calls.size(), 1);  // one request at a time
        QTRY_COMPARE(portal.closed.size(), 1);
        QCOMPARE(inhibitor.holder(), Holder::None);
    }

    void preferenceOff_nothingAsked_turnedOffWhilePlaying_released() {
        PortalStandIn portal;
        SleepInhibitor inhibitor;
        inhibitor.setEnabled(false);
        inhibitor.setPlaying(true);
        QVERIFY(!inhibitor.isAsking());
        inhibitor.setEnabled(true);
        QTRY_COMPARE(inhibitor.holder(), Holder::Portal);
        QCOMPARE(portal.calls.size(), 1);
        inhibitor.setEnabled(false);
        QTRY_COMPARE(portal.closed.size(), 1);
        QCOMPARE(inhibitor.holder(), Holder::None);
    }

    void noPortal_logindSleepLockHeldWhilePlaying() {
        LogindStandIn logind;
        QVERIFY(logind.registered());
        SleepInhibitor inhibitor;
        inhibitor.setPlaying(true);
        QTRY_COMPARE(inhibitor.holder(), Holder::Logind);
        QCOMPARE(logind.calls.size(), 1);
        QCOMPARE(logind.calls[0].what, QStringLiteral("sleep"));
        QCOMPARE(logind.calls[0].mode, QStringLiteral("block"));
        QCOMPARE(logind.calls[0].who, QStringLiteral("Brinesong"));
        QVERIFY(!logind.released(0));

        inhibitor.setPlaying(false);
        QCOMPARE(inhibitor.holder(), Holder::None);
        QVERIFY(logind.released(0));
    }

    void noServiceAtAll_nothingHeldNothingFails() {
        SleepInhibitor inhibitor;
        inhibitor.setPlaying(true);
        QTRY_VERIFY(!inhibitor.isAsking());
        QCOMPARE(inhibitor.holder(), Holder::None);
        inhibitor.setPlaying(false);
        QCOMPARE(inhibitor.holder(), Holder::None);
    }
};

QTEST_GUILESS_MAIN(SleepInhibitorTest)
#include "sleep_inhibitor_test.moc"
