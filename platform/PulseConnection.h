// SPDX-License-Identifier: GPL-3.0-or-later
// The program's one connection to the sound server: one pa_threaded_mainloop, one context, one
// teardown, shared by the output unit and the device hardware (its clients).
//
// Connecting never blocks: start() returns at once and the mainloop's thread does the rest. When
// the server cannot be reached, or goes away later (a restart, a crash, an upgrade), the context
// is dropped and a new one tries again after a back-off that grows from 50 ms to 1 s and stays
// there. While nobody listens on the server's socket, a retry is only a connect(2) to it (a new
// context costs about a millisecond); every tenth retry makes a real attempt all the same. A
// server that has frozen (SIGSTOP) is given up by libpulse after its own 30 s and then tried again
// in the same way.
//
// Clients hear, on the mainloop's thread with its lock held, when the context is ready (set up
// what needs the server), when it is lost or an attempt failed (drop everything made on the old
// context: it cannot be used again), and the server's sink and server events, to which the
// connection subscribes before any client takes stock, so that no change falls between. A
// subscription the server refuses is said once and asked for again with the same back-off; once
// granted, the clients hear that they may have missed changes.
//
// Every pa_* call is made under the mainloop's lock (Lock); waits for the server's answers are
// bounded (await), so a server that stops answering holds up nobody for long.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;
struct pa_time_event;
struct pa_mainloop_api;

namespace brinesong {

class PulseConnection {
public:
    enum class State : int {
        Idle,        // not started
        Connecting,  // an attempt is under way
        Ready,
        Waiting,  // no server: the next attempt comes after the back-off
        Closed,
    };

    class Client {
    public:
        virtual ~Client() = default;
        // The context is ready. Mainloop thread (or the thread adding the client), lock held.
        virtual void connectionReady(pa_context* context) = 0;
        // The context is gone, or an attempt failed; also at close. Lock held.
        virtual void connectionLost() = 0;
        // A subscription event on sinks or the server (facility and type as libpulse gives them).
        virtual void serverEvent(pa_context* context, uint32_t facility, uint32_t type,
                                 uint32_t index) {
            (void)context, (void)facility, (void)type, (void)index;
        }
        // The server's events went unheard for a while (the subscription was refused and has now
        // been granted): what was read from the server may be out of date. Lock held.
        virtual void changesMissed(pa_context* context) { (void)context; }
    };

    // Holds the mainloop's lock. Not on the mainloop's own thread, where it is held already.
    class Lock {
    public:
        explicit Lock(const PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* mainloop_;
    };

    static constexpr std::chrono::milliseconds kFirstRetry{50};
    static constexpr std::chrono::milliseconds kLongestRetry{1000};
    static constexpr int kProbesPerAttempt = 10;

    PulseConnection();
    ~PulseConnection();  // close()
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Starts the mainloop's thread and the first attempt to connect; returns at once. False when
    // the client library could not be set up (nothing will ever connect then).
    bool start();
    // Drops the context and stops the mainloop's thread; clients hear connectionLost first. No
    // client callback runs afterwards. Not on the mainloop's thread.
    void close();

    // Not on the mainloop's thread. A client added while the context is ready hears
    // connectionReady at once; one removed hears nothing more once this returns.
    void addClient(Client& client);
    void removeClient(Client& client);

    State state() const { return state_.load(std::memory_order_acquire); }
    // The server's words for why the last attempt failed or the connection was lost.
    std::string errorText() const;
    int lastError() const { return lastError_.load(std::memory_order_relaxed); }
    // Attempts made since start (the first one included).
    uint64_t attempts() const { return attempts_.load(std::memory_order_relaxed); }

    // Lock held. The context while ready, else null.
    pa_context* context() const;
    pa_threaded_mainloop* mainloop() const { return mainloop_; }
    pa_mainloop_api* api() const;
    bool onMainloopThread() const;

    // Lock held. Waits until `operation` has finished, the connection has gone or `limit` has
    // passed, then unreferences it. 0 when it finished; PA_ERR_TIMEOUT after the limit (the
    // operation is cancelled, its callback never runs); otherwise the context's error. Not on the
    // mainloop's thread.
    int await(pa_operation* operation, std::chrono::milliseconds limit);

    // For one-shot commands: blocks until the connection is ready, or an attempt has failed, or
    // `limit` has passed. True when ready.
    bool waitUntilSettled(std::chrono::milliseconds limit);

private:
    friend struct PulseConnectionEvents;
    void connectNow();     // mainloop thread, lock held
    void lose(int error);  // mainloop thread, lock held
    void subscribe();      // lock held
    void subscriptionRefused(int error);
    void dropContext();
    void scheduleRetry();
    void setState(State state);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* retry_ = nullptr;
    std::chrono::milliseconds backOff_{kFirstRetry};
    // A refused subscription, asked again (lock held).
    pa_time_event* resubscribe_ = nullptr;
    std::chrono::milliseconds resubscribeBackOff_{kFirstRetry};
    bool changesMissed_ = false;
    bool refusalSaid_ = false;
    int probesSkipped_ = 0;
    std::vector<Client*> clients_;  // lock held
    std::atomic<State> state_{State::Idle};
    std::atomic<int> lastError_{0};
    std::atomic<uint64_t> attempts_{0};

    std::mutex settledMutex_;
    std::condition_variable settled_;
};

}  // namespace brinesong
