// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT and SIGTERM end the application's event loop like the Quit command, so the window's
// termination sequence (fade out, close the output, write the settings) runs for them too. The
// handler only writes the signal number to a pipe; the event loop reads it on the main thread.
#pragma once

#include <functional>

class QCoreApplication;

namespace brinesong {

void quitOnTerminationSignals(QCoreApplication& app);

// Has `received` run on the main thread, in the event loop, for every SIGINT and SIGTERM that
// arrives (with the signal's number).
void onTerminationSignals(QCoreApplication& app, std::function<void(int signalNumber)> received);

// Has `handler` run for SIGINT and SIGTERM. The handler may only do what is safe in a signal
// handler (set a lock-free flag, write to a pipe), and leaves errno as it found it. With
// `restartCalls` false a system call the signal interrupts fails with EINTR instead of going on, so
// that a write blocked on a reader that does not read ends with the signal.
void handleInterruptSignals(void (*handler)(int), bool restartCalls = true);

}  // namespace brinesong
