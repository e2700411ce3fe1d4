// SPDX-License-Identifier: GPL-3.0-or-later
#include "TerminationSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

namespace brinesong {

namespace {
int signalPipe[2] = {-1, -1};
std::atomic<int> receivedSignal{0};

extern "C" void onTerminationSignal(int signalNumber) {
    // The interrupted code may be about to read errno.
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    // Nothing to do if the pipe is full: a quit is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}
}  // namespace

void quitOnTerminationSignals(QCoreApplication& app) {
    onTerminationSignals(app, [](int signalNumber) {
        if (receivedSignal.load() == 0) {
            receivedSignal.store(signalNumber);
            // The exit status of a process ended by a signal, as the command line gives it.
            QCoreApplication::exit(128 + signalNumber);
        }
    });
}

void onTerminationSignals(QCoreApplication& app, std::function<void(int)> received) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        std::perror("socketpair");
        return;
    }
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [received = std::move(received)] {
        char byte = 0;
        if (::read(signalPipe[0], &byte, 1) == 1) {
            received(byte);
        }
    });
    handleInterruptSignals(onTerminationSignal);
}

void handleInterruptSignals(void (*handler)(int), bool restartCalls) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = restartCalls ? SA_RESTART : 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace brinesong
