// SPDX-License-Identifier: GPL-3.0-or-later
// One window per user session. The first launch owns the application's name on the session bus
// and answers org.freedesktop.Application there: Activate brings the window to the front, and
// ActivateAction carries out the launcher's actions ("play", "stop"). A later launch finds the
// name taken, asks the owner to come to the front or to carry out its action, and leaves. The
// same calls start the program where the desktop launches it over the bus (its D-Bus service
// file): the object is registered before the name is taken, so the call that started it is
// answered. Without a session bus every launch starts normally.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace brinesong {

inline constexpr const char* kApplicationId = "org.kelvane.Brinesong";
// The actions of the launcher (the desktop entry's), by the names ActivateAction takes.
inline constexpr const char* kPlayAction = "play";
inline constexpr const char* kStopAction = "stop";

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        First,      // this launch owns the name: go on and open the window
        Activated,  // another launch owns it and was asked to come to the front: leave
        Alone,      // no session bus, or the owner did not answer: go on without the name
    };

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Claims the name, or asks the launch that holds it to come to the front (no `action`) or to
    // carry out `action`. `service` is the application id outside of tests.
    Claim claim(const QString& action = QString(),
                const QString& service = QString::fromLatin1(kApplicationId));

    // org.freedesktop.Application.Activate, called over the bus by a later launch. A Wayland
    // activation token in `platformData` is handed to the window system, so the compositor lets
    // the window take the focus.
    void activate(const QVariantMap& platformData);
    // org.freedesktop.Application.ActivateAction: false for an action the program does not have.
    bool activateAction(const QString& name, const QVariantMap& platformData);
    static QStringList actionNames();

signals:
    // The window should come to the front.
    void activationRequested();
    // One of actionNames() was asked for.
    void actionRequested(const QString& name);

private:
    QString service_;
    QString path_;
    bool registered_ = false;
};

}  // namespace brinesong
