// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/PulseCalls.h"

namespace brinesong {

namespace {

// Whether an attempt to connect could succeed now. An attempt costs a client context (its
// configuration read, a shared memory pool made and dropped again: about a millisecond); this
// costs one connect(2) per place the server may listen. It says no only when every such place is
// a local socket that nobody listens on; a server named otherwise (over TCP, say) is always tried.
bool serverMayAnswer() {
    std::vector<std::string> paths;
    if (const char* servers = std::getenv("PULSE_SERVER")) {
        std::istringstream list(servers);
        std::string entry;
        while (list >> entry) {
            if (entry.front() == '{') {  // "{machine id}address"
                const size_t close = entry.find('}');
                entry = close == std::string::npos ? std::string() : entry.substr(close + 1);
            }
            if (entry.rfind("unix:", 0) == 0) {
                paths.push_back(entry.substr(5));
            } else if (!entry.empty() && entry.front() == '/') {
                paths.push_back(entry);
            } else {
                return true;
            }
        }
    } else if (const char* runtime = std::getenv("PULSE_RUNTIME_PATH")) {
        paths.push_back(std::string(runtime) + "/native");
    } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
        paths.push_back(std::string(runtime) + "/pulse/native");
    } else {
        return true;
    }
    if (!std::getenv("PULSE_SERVER")) {
        paths.push_back("/var/run/pulse/native");  // a system-wide server
    }
    for (const std::string& path : paths) {
        sockaddr_un address{};
        if (path.size() >= sizeof address.sun_path) {
            return true;
        }
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (probe < 0) {
            return true;
        }
        const int result = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
        const bool listening = result == 0 || errno == EAGAIN || errno == EINPROGRESS;
        ::close(probe);
        if (listening) {
            return true;
        }
    }
    return false;
}

}  // namespace

struct PulseConnectionEvents {
    static void onContextState(pa_context* context, void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        if (context != self->context_) {
            return;  // an earlier context on its way out
        }
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY: {
                self->backOff_ = PulseConnection::kFirstRetry;
                // Subscribed before any client takes stock, so that no change falls between.
                pa_context_set_subscribe_callback(context, &onEvent, self);
                self->subscribe();
                self->setState(PulseConnection::State::Ready);
                for (PulseConnection::Client* client : self->clients_) {
                    client->connectionReady(context);
                }
                break;
            }
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                self->lose(pa_context_errno(context));
                break;
            default:
                break;
        }
        pa_threaded_mainloop_signal(self->mainloop_, 0);
    }

    static void onEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                        void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        if (context != self->context_) {
            return;
        }
        const uint32_t facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const uint32_t kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        for (PulseConnection::Client* client : self->clients_) {
            client->serverEvent(context, facility, kind, index);
        }
    }

    static void onSubscribed(pa_context* context, int success, void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        if (context != self->context_) {
            return;
        }
        if (!success) {
            self->subscriptionRefused(pa_context_errno(context));
            return;
        }
        self->resubscribeBackOff_ = PulseConnection::kFirstRetry;
        self->refusalSaid_ = false;
        if (self->changesMissed_) {
            self->changesMissed_ = false;
            for (PulseConnection::Client* client : self->clients_) {
                client->changesMissed(context);
            }
        }
    }

    static void onResubscribe(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                              void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        api->time_free(event);
        self->resubscribe_ = nullptr;
        self->subscribe();
    }

    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                        void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        api->time_free(event);
        self->retry_ = nullptr;
        // Nobody listens where the server would: wait on without a context. Every so often a real
        // attempt all the same, for servers named where the probe does not look (client.conf).
        if (++self->probesSkipped_ < PulseConnection::kProbesPerAttempt && !serverMayAnswer()) {
            self->scheduleRetry();
            return;
        }
        self->probesSkipped_ = 0;
        self->connectNow();
    }

    static void onOperationState(pa_operation*, void* mainloop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
    }

    struct Deadline {
        pa_threaded_mainloop* mainloop;
        bool passed = false;
    };
    static void onDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                           void* userdata) {
        auto* deadline = static_cast<Deadline*>(userdata);
        deadline->passed = true;
        pa_threaded_mainloop_signal(deadline->mainloop, 0);
    }
};

PulseConnection::Lock::Lock(const PulseConnection& connection) : mainloop_(connection.mainloop_) {
    if (mainloop_) {
        pa_threaded_mainloop_lock(mainloop_);
    }
}

PulseConnection::Lock::~Lock() {
    if (mainloop_) {
        pa_threaded_mainloop_unlock(mainloop_);
    }
}

PulseConnection::PulseConnection() {
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_) {
        pa_threaded_mainloop_set_name(mainloop_, "brinesong-pulse");
    }
}

PulseConnection::~PulseConnection() {
    close();
    if (mainloop_) {
        pa_threaded_mainloop_free(mainloop_);
    }
}

bool PulseConnection::start() {
    if (!mainloop_ || state() != State::Idle) {
        return mainloop_ && state() != State::Closed;
    }
    if (pa_threaded_mainloop_start(mainloop_) < 0) {
        return false;
    }
    Lock lock(*this);
    connectNow();
    return true;
}

void PulseConnection::close() {
    if (!mainloop_ || state() == State::Closed || state() == State::Idle) {
        setState(State::Closed);
        return;
    }
    {
        Lock lock(*this);
        setState(State::Closed);
        if (retry_) {
            api()->time_free(retry_);
            retry_ = nullptr;
        }
        // Clients drop their streams before the context goes.
        for (Client* client : clients_) {
            client->connectionLost();
        }
        dropContext();
    }
    pa_threaded_mainloop_stop(mainloop_);
}

void PulseConnection::addClient(Client& client) {
    Lock lock(*this);
    clients_.push_back(&client);
    if (context_ && state() == State::Ready) {
        client.connectionReady(context_);
    }
}

void PulseConnection::removeClient(Client& client) {
    Lock lock(*this);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), &client), clients_.end());
}

std::string PulseConnection::errorText() const {
    return pa_strerror(lastError());
}

pa_context* PulseConnection::context() const {
    return state() == State::Ready ? context_ : nullptr;
}

pa_mainloop_api* PulseConnection::api() const {
    return pa_threaded_mainloop_get_api(mainloop_);
}

bool PulseConnection::onMainloopThread() const {
    return mainloop_ && pa_threaded_mainloop_in_thread(mainloop_);
}

void PulseConnection::setState(State state) {
    state_.store(state, std::memory_order_release);
    if (state == State::Ready || state == State::Waiting || state == State::Closed) {
        std::lock_guard lock(settledMutex_);
        settled_.notify_all();
    }
}

// Lock held.
void PulseConnection::connectNow() {
    if (state() == State::Closed) {
        return;
    }
    dropContext();
    attempts_.fetch_add(1, std::memory_order_relaxed);
    setState(State::Connecting);
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Brinesong");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "org.kelvane.Brinesong");
    // The desktop's sound settings show the stream with the program's theme icon.
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "org.kelvane.Brinesong");
    pa_context* context = pa_context_new_with_proplist(api(), "Brinesong", properties);
    pa_proplist_free(properties);
    if (!context) {
        lose(PA_ERR_INTERNAL);
        return;
    }
    context_ = context;
    pa_context_set_state_callback(context, &PulseConnectionEvents::onContextState, this);
    // The context may fail inside the call, and its state callback then drops it: keep it alive
    // until we have read its error.
    pa_context_ref(context);
    // No autospawn: a program that finds no server says so and waits for one, rather than
    // starting one behind the user's back.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 &&
        context_ == context) {
        lose(pa_context_errno(context));
    }
    pa_context_unref(context);
}

// Lock held. Drops the context and schedules the next attempt.
void PulseConnection::lose(int error) {
    lastError_.store(error != 0 ? error : PA_ERR_CONNECTIONTERMINATED, std::memory_order_relaxed);
    for (Client* client : clients_) {
        client->connectionLost();
    }
    dropContext();
    if (state() == State::Closed) {
        return;
    }
    setState(State::Waiting);
    scheduleRetry();
}

// Lock held, the context ready. The clients follow the server through its events: a refused
// subscription is said once and asked again after a back-off, and once granted the clients take
// stock anew of what they may have missed.
void PulseConnection::subscribe() {
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                          PA_SUBSCRIPTION_MASK_SERVER);
    if (pa_operation* operation =
            pa_context_subscribe(context_, mask, &PulseConnectionEvents::onSubscribed, this)) {
        pa_operation_unref(operation);
        return;
    }
    subscriptionRefused(pa_context_errno(context_));
}

void PulseConnection::subscriptionRefused(int error) {
    changesMissed_ = true;
    if (!refusalSaid_) {
        refusalSaid_ = true;
        logFailure("pa_context_subscribe", error != 0 ? error : PA_ERR_UNKNOWN);
    }
    if (resubscribe_ || state() == State::Closed) {
        return;
    }
    resubscribe_ =
        startTimer(api(), resubscribeBackOff_, &PulseConnectionEvents::onResubscribe, this);
    resubscribeBackOff_ = std::min(resubscribeBackOff_ * 2, kLongestRetry);
}

void PulseConnection::dropContext() {
    if (resubscribe_) {
        api()->time_free(resubscribe_);
        resubscribe_ = nullptr;
    }
    changesMissed_ = false;
    refusalSaid_ = false;
    resubscribeBackOff_ = kFirstRetry;
    if (!context_) {
        return;
    }
    pa_context* context = context_;
    context_ = nullptr;
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

void PulseConnection::scheduleRetry() {
    if (retry_) {
        return;
    }
    retry_ = startTimer(api(), backOff_, &PulseConnectionEvents::onRetry, this);
    backOff_ = std::min(backOff_ * 2, kLongestRetry);
}

int PulseConnection::await(pa_operation* operation, std::chrono::milliseconds limit) {
    if (!operation) {
        const int error = context_ ? pa_context_errno(context_) : lastError();
        return error != 0 ? error : PA_ERR_CONNECTIONTERMINATED;
    }
    pa_operation_set_state_callback(operation, &PulseConnectionEvents::onOperationState, mainloop_);
    PulseConnectionEvents::Deadline deadline{mainloop_};
    pa_time_event* timer = startTimer(api(), limit, &PulseConnectionEvents::onDeadline, &deadline);
    // Without a timer the wait could not be bounded: the answer is not waited for.
    deadline.passed = timer == nullptr;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && !deadline.passed) {
        pa_threaded_mainloop_wait(mainloop_);
    }
    if (timer) {
        api()->time_free(timer);
    }
    int status = 0;
    switch (pa_operation_get_state(operation)) {
        case PA_OPERATION_DONE:
            break;
        case PA_OPERATION_RUNNING:
            pa_operation_cancel(operation);
            status = PA_ERR_TIMEOUT;
            break;
        case PA_OPERATION_CANCELLED:
            status = context_ ? pa_context_errno(context_) : lastError();
            if (status == 0) {
                status = PA_ERR_CONNECTIONTERMINATED;
            }
            break;
    }
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    pa_operation_unref(operation);
    return status;
}

bool PulseConnection::waitUntilSettled(std::chrono::milliseconds limit) {
    std::unique_lock lock(settledMutex_);
    settled_.wait_for(lock, limit, [this] {
        const State now = state();
        return now == State::Ready || now == State::Waiting || now == State::Closed;
    });
    return state() == State::Ready;
}

}  // namespace brinesong
