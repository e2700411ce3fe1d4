// One window per user session. The first launch owns the application's name on the session bus
// and answers org.freedesktop.Application's Activate there; a later launch finds the name taken,
// asks the owner to come to the front, and leaves. Without a session bus every launch starts
// normally.
#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace brinesong {

inline constexpr const char* kApplicationId = "org.kelvane.Brinesong";

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

    // Claims the name, or activates the launch that holds it. `service` is the application id
    // outside of tests.
    Claim claim(const QString& service = QString::fromLatin1(kApplicationId));

    // org.freedesktop.Application.Activate, called over the bus by a later launch. A Wayland
    // activation token in `platformData` is handed to the window system, so the compositor lets
    // the window take the focus.
    void activate(const QVariantMap& platformData);

signals:
    // The window should come to the front.
    void activationRequested();

private:
    QString service_;
    QString path_;
    bool registered_ = false;
};

}  // namespace brinesong
