#include "platform/PulseHardware.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <utility>

namespace brinesong {

namespace {

PulseHardware::Sink sinkFromInfo(const pa_sink_info* info) {
    PulseHardware::Sink sink;
    sink.name = info->name ? info->name : "";
    sink.description = info->description ? info->description : sink.name;
    if (const char* vendor = pa_proplist_gets(info->proplist, "device.vendor.name")) {
        sink.vendor = vendor;
    }
    for (uint32_t i = 0; i < info->n_ports; ++i) {
        const pa_sink_port_info* port = info->ports[i];
        sink.ports.push_back(port->name);
        sink.portDescriptions.push_back(port->description ? port->description : port->name);
    }
    if (info->active_port) {
        sink.activePort = info->active_port->name;
    }
    return sink;
}

// Answers of the server to one blocking query.
struct SinkAnswer {
    PulseHardware::Sink* sink = nullptr;
    uint32_t index = PA_INVALID_INDEX;
    int error = 0;
    bool found = false;
};

void onSinkAnswer(pa_context* context, const pa_sink_info* info, int eol, void* userdata) {
    auto* answer = static_cast<SinkAnswer*>(userdata);
    if (eol < 0) {
        answer->error = pa_context_errno(context);
    } else if (eol == 0 && info) {
        if (answer->sink) {
            *answer->sink = sinkFromInfo(info);
        }
        answer->index = info->index;
        answer->found = true;
    }
}

void onSuccess(pa_context* context, int success, void* userdata) {
    *static_cast<int*>(userdata) = success ? 0 : pa_context_errno(context);
}

void onOperationState(pa_operation*, void* mainloop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
}

}  // namespace

// The mainloop thread's side.
struct PulseHardwareEvents {
    static void onContextState(pa_context*, void* mainloop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
    }

    static void onEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                        void* userdata) {
        auto* self = static_cast<PulseHardware*>(userdata);
        const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
            if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
                self->seen_.erase(index);
                self->listeners_.forgetDevice(index);
                self->notifyDevices();
                return;
            }
            // New or changed: look at it, and compare with what was seen before.
            if (pa_operation* op =
                    pa_context_get_sink_info_by_index(context, index, &onSinkSeen, self)) {
                pa_operation_unref(op);
            }
            if (kind == PA_SUBSCRIPTION_EVENT_NEW) {
                self->notifyDevices();
            }
        } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT &&
                   kind == PA_SUBSCRIPTION_EVENT_NEW) {
            std::lock_guard lock(self->pendingMutex_);
            if (self->pendingUnit_ && self->pendingUnit_->streamIndex() == index) {
                if (pa_operation* op = pa_context_move_sink_input_by_index(
                        context, index, self->pendingDevice_, nullptr, nullptr)) {
                    pa_operation_unref(op);
                }
                self->pendingUnit_ = nullptr;
            }
        }
    }

    static void onSinkSeen(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
        if (eol != 0 || !info) {
            return;  // gone again, or the end of the answer
        }
        auto* self = static_cast<PulseHardware*>(userdata);
        PulseHardware::Sink now = sinkFromInfo(info);
        auto it = self->seen_.find(info->index);
        if (it == self->seen_.end()) {
            // First sight (at connection, or "changed" before "new"): nothing to compare with.
            self->seen_.emplace(info->index, std::move(now));
            return;
        }
        const PulseHardware::Sink before = std::exchange(it->second, now);
        // A renamed sink changes what its entries are called, as a new list of ports does.
        if (before.ports != now.ports || before.portDescriptions != now.portDescriptions ||
            before.description != now.description || before.vendor != now.vendor) {
            self->notifyDevice(info->index, HardwareProperty::DataSources);
        }
        if (before.activePort != now.activePort) {
            self->notifyDevice(info->index, HardwareProperty::DataSource);
        }
    }
};

PulseHardware::PulseHardware() = default;

PulseHardware::~PulseHardware() {
    if (!mainloop_) {
        return;
    }
    pa_threaded_mainloop_lock(mainloop_);
    if (context_) {
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_unlock(mainloop_);
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
}

int PulseHardware::connect() {
    if (connected_) {
        return 0;
    }
    if (!mainloop_) {
        mainloop_ = pa_threaded_mainloop_new();
        if (!mainloop_) {
            return PA_ERR_INTERNAL;
        }
        if (pa_threaded_mainloop_start(mainloop_) < 0) {
            return PA_ERR_INTERNAL;
        }
    }
    pa_threaded_mainloop_lock(mainloop_);
    if (context_) {  // a failed attempt before
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_unref(context_);
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "Brinesong devices");
    if (!context_) {
        pa_threaded_mainloop_unlock(mainloop_);
        return PA_ERR_INTERNAL;
    }
    pa_context_set_state_callback(context_, &PulseHardwareEvents::onContextState, mainloop_);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        const int error = pa_context_errno(context_);
        pa_threaded_mainloop_unlock(mainloop_);
        return error;
    }
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) {
            break;
        }
        if (!PA_CONTEXT_IS_GOOD(state)) {
            const int error = pa_context_errno(context_);
            pa_threaded_mainloop_unlock(mainloop_);
            return error ? error : PA_ERR_CONNECTIONREFUSED;
        }
        pa_threaded_mainloop_wait(mainloop_);
    }
    // Subscribe first, then take stock, so that no change falls between the two.
    pa_context_set_subscribe_callback(context_, &PulseHardwareEvents::onEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                          PA_SUBSCRIPTION_MASK_SINK_INPUT);
    int result = 0;
    int status = await(pa_context_subscribe(context_, mask, &onSuccess, &result));
    if (status == 0) {
        status = result;
    }
    if (status == 0) {
        status =
            await(pa_context_get_sink_info_list(context_, &PulseHardwareEvents::onSinkSeen, this));
    }
    connected_ = status == 0;
    pa_threaded_mainloop_unlock(mainloop_);
    return status;
}

const char* PulseHardware::errorText(int status) {
    return pa_strerror(status);
}

int PulseHardware::checkConnected() const {
    return connected_ ? 0 : PA_ERR_BADSTATE;
}

// Lock held. Waits until the operation has finished or the connection has gone.
int PulseHardware::await(pa_operation* operation) {
    if (!operation) {
        return pa_context_errno(context_);
    }
    pa_operation_set_state_callback(operation, &onOperationState, mainloop_);
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        pa_threaded_mainloop_wait(mainloop_);
    }
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    pa_operation_unref(operation);
    if (done) {
        return 0;
    }
    const int error = pa_context_errno(context_);
    return error ? error : PA_ERR_KILLED;
}

int PulseHardware::querySink(AudioDeviceID device, Sink& sink) {
    sink = Sink{};
    if (int status = checkConnected()) {
        return status;
    }
    SinkAnswer answer;
    answer.sink = &sink;
    pa_threaded_mainloop_lock(mainloop_);
    int status = await(pa_context_get_sink_info_by_index(context_, device, &onSinkAnswer, &answer));
    pa_threaded_mainloop_unlock(mainloop_);
    if (status == 0 && answer.error) {
        status = answer.error;
    }
    if (status == 0 && !answer.found) {
        status = PA_ERR_NOENTITY;
    }
    return status;
}

DataSourceID PulseHardware::portID(const std::string& name) {
    auto [it, added] = portIDs_.try_emplace(name, static_cast<DataSourceID>(portIDs_.size() + 1));
    return it->second;
}

std::string PulseHardware::portName(DataSourceID source) const {
    for (const auto& [name, id] : portIDs_) {
        if (id == source) {
            return name;
        }
    }
    return {};
}

int PulseHardware::getDevices(std::vector<AudioDeviceID>& devices) {
    devices.clear();
    if (int status = checkConnected()) {
        return status;
    }
    struct List {
        std::vector<AudioDeviceID>* devices;
        int error = 0;
    } list{&devices};
    pa_threaded_mainloop_lock(mainloop_);
    int status = await(pa_context_get_sink_info_list(
        context_,
        [](pa_context* context, const pa_sink_info* info, int eol, void* userdata) {
            auto* list = static_cast<List*>(userdata);
            if (eol < 0) {
                list->error = pa_context_errno(context);
            } else if (eol == 0 && info) {
                list->devices->push_back(info->index);
            }
        },
        &list));
    pa_threaded_mainloop_unlock(mainloop_);
    return status ? status : list.error;
}

int PulseHardware::getDefaultOutputDevice(AudioDeviceID& device) {
    device = kNoAudioDevice;
    if (int status = checkConnected()) {
        return status;
    }
    std::string defaultSink;
    pa_threaded_mainloop_lock(mainloop_);
    int status = await(pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            if (info && info->default_sink_name) {
                *static_cast<std::string*>(userdata) = info->default_sink_name;
            }
        },
        &defaultSink));
    SinkAnswer answer;
    if (status == 0 && !defaultSink.empty()) {
        status = await(pa_context_get_sink_info_by_name(context_, defaultSink.c_str(),
                                                        &onSinkAnswer, &answer));
    }
    pa_threaded_mainloop_unlock(mainloop_);
    if (status) {
        return status;
    }
    if (answer.error) {
        return answer.error;
    }
    if (!answer.found) {
        return PA_ERR_NOENTITY;  // no default sink: the server has none at all
    }
    device = answer.index;
    return 0;
}

int PulseHardware::hasStream(AudioDeviceID device, bool isInput) {
    if (isInput) {
        return PA_ERR_NOTSUPPORTED;  // sinks only play
    }
    Sink sink;
    return querySink(device, sink);
}

int PulseHardware::getDeviceName(AudioDeviceID device, bool, std::string& name) {
    Sink sink;
    const int status = querySink(device, sink);
    name = sink.description;
    return status;
}

int PulseHardware::getManufacturer(AudioDeviceID device, bool, std::string& manufacturer) {
    Sink sink;
    const int status = querySink(device, sink);
    manufacturer = sink.vendor;
    return status;
}

int PulseHardware::isDataSourceSettable(AudioDeviceID device, bool, bool& settable) {
    Sink sink;
    const int status = querySink(device, sink);
    settable = !sink.ports.empty();
    return status;
}

int PulseHardware::getDataSource(AudioDeviceID device, bool, DataSourceID& source) {
    Sink sink;
    const int status = querySink(device, sink);
    source = sink.activePort.empty() ? kNoDataSource : portID(sink.activePort);
    return status;
}

int PulseHardware::getDataSources(AudioDeviceID device, bool, std::vector<DataSourceID>& sources) {
    Sink sink;
    const int status = querySink(device, sink);
    sources.clear();
    for (const std::string& port : sink.ports) {
        sources.push_back(portID(port));
    }
    return status;
}

int PulseHardware::getDataSourceName(AudioDeviceID device, bool, DataSourceID source,
                                     std::string& name) {
    name.clear();
    Sink sink;
    if (int status = querySink(device, sink)) {
        return status;
    }
    const std::string port = portName(source);
    auto it = std::find(sink.ports.begin(), sink.ports.end(), port);
    if (port.empty() || it == sink.ports.end()) {
        return PA_ERR_NOENTITY;
    }
    name = sink.portDescriptions[it - sink.ports.begin()];
    return 0;
}

int PulseHardware::setDataSource(AudioDeviceID device, bool, DataSourceID source) {
    if (int status = checkConnected()) {
        return status;
    }
    const std::string port = portName(source);
    if (port.empty()) {
        return PA_ERR_NOENTITY;
    }
    int result = 0;
    pa_threaded_mainloop_lock(mainloop_);
    int status = await(
        pa_context_set_sink_port_by_index(context_, device, port.c_str(), &onSuccess, &result));
    pa_threaded_mainloop_unlock(mainloop_);
    return status ? status : result;
}

int PulseHardware::getCurrentDevice(OutputRouting& unit, AudioDeviceID& device) {
    device = kNoAudioDevice;
    if (int status = checkConnected()) {
        return status;
    }
    const uint32_t stream = unit.streamIndex();
    if (stream == OutputRouting::kNoStream) {
        std::lock_guard lock(pendingMutex_);
        if (pendingUnit_ == &unit) {
            device = pendingDevice_;
            return 0;
        }
        return PA_ERR_NOENTITY;
    }
    struct Answer {
        uint32_t sink = PA_INVALID_INDEX;
        int error = 0;
    } answer;
    pa_threaded_mainloop_lock(mainloop_);
    int status = await(pa_context_get_sink_input_info(
        context_, stream,
        [](pa_context* context, const pa_sink_input_info* info, int eol, void* userdata) {
            auto* answer = static_cast<Answer*>(userdata);
            if (eol < 0) {
                answer->error = pa_context_errno(context);
            } else if (eol == 0 && info) {
                answer->sink = info->sink;
            }
        },
        &answer));
    pa_threaded_mainloop_unlock(mainloop_);
    if (status == 0) {
        status = answer.error;
    }
    if (status == 0 && answer.sink == PA_INVALID_INDEX) {
        status = PA_ERR_NOENTITY;
    }
    if (status == 0) {
        device = answer.sink;
    }
    return status;
}

int PulseHardware::setCurrentDevice(OutputRouting& unit, AudioDeviceID device) {
    if (int status = checkConnected()) {
        return status;
    }
    uint32_t stream = unit.streamIndex();
    if (stream == OutputRouting::kNoStream) {
        std::lock_guard lock(pendingMutex_);
        pendingUnit_ = &unit;
        pendingDevice_ = device;
        // It may have connected in the meantime, its announcement already gone by.
        stream = unit.streamIndex();
        if (stream == OutputRouting::kNoStream) {
            return 0;
        }
        pendingUnit_ = nullptr;
    }
    int result = 0;
    pa_threaded_mainloop_lock(mainloop_);
    int status =
        await(pa_context_move_sink_input_by_index(context_, stream, device, &onSuccess, &result));
    pa_threaded_mainloop_unlock(mainloop_);
    return status ? status : result;
}

int PulseHardware::addHardwareListener(HardwareListenerProc proc, void* context) {
    listeners_.addHardware(proc, context);
    return 0;
}

int PulseHardware::removeHardwareListener(HardwareListenerProc proc, void* context) {
    listeners_.removeHardware(proc, context);
    return 0;
}

int PulseHardware::addDeviceListener(AudioDeviceID device, uint32_t channel, bool isInput,
                                     HardwareProperty property, DeviceListenerProc proc,
                                     void* context) {
    listeners_.addDevice(device, channel, isInput, property, proc, context);
    return 0;
}

int PulseHardware::removeDeviceListener(AudioDeviceID device, uint32_t channel, bool isInput,
                                        HardwareProperty property, DeviceListenerProc proc,
                                        void* context) {
    // Removing what is not registered (a sink that came after the last registration) is fine.
    listeners_.removeDevice(device, channel, isInput, property, proc, context);
    return 0;
}

void PulseHardware::removeAllListeners(void* context) {
    listeners_.removeAll(context);
}

void PulseHardware::notifyDevices() {
    listeners_.notifyDevicesChanged();
}

void PulseHardware::notifyDevice(AudioDeviceID device, HardwareProperty property) {
    listeners_.notifyDevice(device, property, /*outputOnly=*/true);
}

}  // namespace brinesong
