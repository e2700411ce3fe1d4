// SPDX-License-Identifier: GPL-3.0-or-later
// The sleep inhibitor against stand-ins of the portal on the test's private session bus (the test
// runs under its own dbus-run-session) and of logind on a private bus standing for the system
// bus; no portal, logind or system bus runs on the test machine.
#include <QtTest>
#include <memory>

#include "platform/SleepInhibitor.h"
#include "support/SleepServiceStandIns.h"

using namespace brinesong;
using brinesong::testing::LogindStandIn;
using brinesong::testing::PortalStandIn;
using brinesong::testing::PrivateSystemBus;
using Holder = SleepInhibitor::Holder;

class SleepInhibitorTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            QSKIP("no session bus: the test runs under dbus-run-session (see its CMakeLists)");
        }
        systemBus_ = std::make_unique<PrivateSystemBus>();
        QVERIFY(systemBus_->started());
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

    // Armed at night, the start holds the computer awake; the sound it begins takes the hold over
    // before the start lets go, so the computer is never free to sleep in between.
    void startArmed_heldWhileItWaits_handedOverToTheSoundWithoutAGap() {
        PortalStandIn portal;
        SleepInhibitor inhibitor;
        inhibitor.setStartArmed(true);
        QTRY_COMPARE(inhibitor.holder(), Holder::Portal);
        QCOMPARE(portal.calls.size(), 1);
        inhibitor.setPlaying(true);
        inhibitor.setStartArmed(false);
        QCOMPARE(inhibitor.holder(), Holder::Portal);
        inhibitor.setPlaying(false);
        QCOMPARE(inhibitor.holder(), Holder::None);
        QTRY_COMPARE(portal.closed, QStringList{portal.calls[0].handle});
        QCOMPARE(portal.calls.size(), 1);
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

private:
    std::unique_ptr<PrivateSystemBus> systemBus_;
};

QTEST_GUILESS_MAIN(SleepInhibitorTest)
#include "sleep_inhibitor_test.moc"
