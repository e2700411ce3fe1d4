// SPDX-License-Identifier: GPL-3.0-or-later
// Collects what the code under test writes to standard error while it lives.
#pragma once

#include <unistd.h>

#include <QFile>
#include <QString>
#include <QTemporaryFile>
#include <cstdio>

class StderrCapture {
public:
    StderrCapture() {
        file_.open();
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(file_.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }

    // Everything written so far; stops capturing.
    QString text() {
        restore();
        QFile read(file_.fileName());
        read.open(QIODevice::ReadOnly);
        return QString::fromLocal8Bit(read.readAll());
    }

private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
    }
    QTemporaryFile file_;
    int saved_ = -1;
};
