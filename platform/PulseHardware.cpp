// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PulseHardware.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/PulseListStep.h"

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

// What the failure of each query says.
constexpr const char* kAskingForTheDefault = "asking for the default sink";
constexpr const char* kListingSinks = "listing the sound server's sinks";
constexpr const char* kLookingAtASink = "looking at a new or changed sink";

// The server's stand-in for "no device" (see the header).
bool isStandIn(const pa_sink_info* info) {
    return info->name && std::strcmp(info->name, "auto_null") == 0;
}

void onSuccess(pa_context* context, int success, void* userdata) {
    *static_cast<int*>(userdata) = success ? 0 : pa_context_errno(context);
}

}  // namespace

struct PulseHardwareEvents {
    static void onOperationState(pa_operation* operation, void* userdata) {
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
            return;
        }
        auto* self = static_cast<PulseHardware*>(userdata);
        if (self->pending_.erase(operation) != 0) {
            pa_operation_set_state_callback(operation, nullptr, nullptr);
            pa_operation_unref(operation);
        }
    }

    static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<PulseHardware*>(userdata);
        if (!info) {
            logListError(context, kAskingForTheDefault);  // the last default stands
            return;
        }
        std::lock_guard lock(self->seenMutex_);
        self->defaultSinkName_ = info->default_sink_name ? info->default_sink_name : "";
    }

    static void onStockSink(pa_context* context, const pa_sink_info* info, int eol,
                            void* userdata) {
        auto* self = static_cast<PulseHardware*>(userdata);
        switch (listStep(eol, info)) {
            case ListStep::Item:
                if (!isStandIn(info)) {
                    self->stock_[info->index] = sinkFromInfo(info);
                }
                return;
            case ListStep::End:
                self->stockTaken();
                return;
            case ListStep::Error:
                // What came is the stock all the same, so that nobody waits for more; the
                // server's events bring the sinks that were left out as they change.
                logListError(context, kListingSinks);
                self->stockTaken();
                return;
        }
    }

    static void onSinkSeen(pa_context* context, const pa_sink_info* info, int eol, void* userdata) {
        switch (listStep(eol, info)) {
            case ListStep::Item:
                if (!isStandIn(info)) {  // not a device
                    static_cast<PulseHardware*>(userdata)->sinkSeen(info);
                }
                return;
            case ListStep::End:
                return;
            case ListStep::Error:
                // No such sink: it went again before the answer, and its removal follows.
                if (pa_context_errno(context) != PA_ERR_NOENTITY) {
                    logListError(context, kLookingAtASink);
                }
                return;
        }
    }
};

PulseHardware::PulseHardware(PulseConnection& connection) : connection_(connection) {
    connection_.addClient(*this);
}

PulseHardware::~PulseHardware() {
    connection_.removeClient(*this);
    PulseConnection::Lock lock(connection_);
    // No answer may reach a hardware that is gone.
    for (pa_operation* operation : pending_) {
        pa_operation_set_state_callback(operation, nullptr, nullptr);
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
    }
    pending_.clear();
}

const char* PulseHardware::errorText(int status) {
    return pa_strerror(status);
}

// --- The stock, on the mainloop's thread with its lock held ---------------------------------

// A query that could not even be asked is said; the context is failing, and its loss follows.
void PulseHardware::track(pa_context* context, pa_operation* operation, const char* query) {
    if (!operation) {
        logListError(context, query);
        return;
    }
    pending_.insert(operation);
    pa_operation_set_state_callback(operation, &PulseHardwareEvents::onOperationState, this);
}

void PulseHardware::connectionReady(pa_context* context) {
    // Subscribed already (the connection does it first), so nothing changes unseen from here.
    takeStock(context);
}

void PulseHardware::changesMissed(pa_context* context) {
    // The stock taken replaces what was seen, and the device list hears that it changed.
    takeStock(context);
}

void PulseHardware::takeStock(pa_context* context) {
    stock_.clear();
    taking_ = true;
    track(context, pa_context_get_server_info(context, &PulseHardwareEvents::onServerInfo, this),
          kAskingForTheDefault);
    track(context, pa_context_get_sink_info_list(context, &PulseHardwareEvents::onStockSink, this),
          kListingSinks);
}

void PulseHardware::stockTaken() {
    if (!taking_) {
        return;
    }
    taking_ = false;
    std::vector<AudioDeviceID> gone;  // since the last stock, unseen (see changesMissed)
    {
        std::lock_guard lock(seenMutex_);
        for (const auto& [index, sink] : seen_) {
            if (stock_.count(index) == 0) {
                gone.push_back(index);
            }
        }
        seen_ = std::move(stock_);
        listed_ = true;
        listedChanged_.notify_all();
    }
    stock_.clear();
    for (AudioDeviceID device : gone) {
        listeners_.forgetDevice(device);
    }
    listeners_.notifyDevicesChanged();
}

void PulseHardware::connectionLost() {
    taking_ = false;
    stock_.clear();
    bool hadDevices = false;
    {
        std::lock_guard lock(seenMutex_);
        hadDevices = !seen_.empty();
        for (const auto& [index, sink] : seen_) {
            listeners_.forgetDevice(index);
        }
        seen_.clear();
        defaultSinkName_.clear();
        if (!listed_) {
            attemptFailed_ = true;
        }
        listed_ = false;
        listedChanged_.notify_all();
    }
    if (hadDevices) {
        listeners_.notifyDevicesChanged();
    }
}

void PulseHardware::serverEvent(pa_context* context, uint32_t facility, uint32_t type,
                                uint32_t index) {
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        track(context,
              pa_context_get_server_info(context, &PulseHardwareEvents::onServerInfo, this),
              kAskingForTheDefault);
        return;
    }
    if (facility != PA_SUBSCRIPTION_EVENT_SINK) {
        return;
    }
    if (type == PA_SUBSCRIPTION_EVENT_REMOVE) {
        bool known = false;
        {
            std::lock_guard lock(seenMutex_);
            known = seen_.erase(index) != 0;
        }
        stock_.erase(index);
        listeners_.forgetDevice(index);
        if (known) {
            listeners_.notifyDevicesChanged();
        }
        return;
    }
    // New or changed: look at it. The answer comes after the stock's, as it was asked after it.
    track(context,
          pa_context_get_sink_info_by_index(context, index, &PulseHardwareEvents::onSinkSeen, this),
          kLookingAtASink);
}

void PulseHardware::sinkSeen(const pa_sink_info* info) {
    if (taking_) {
        stock_[info->index] = sinkFromInfo(info);
        return;
    }
    Sink now = sinkFromInfo(info);
    Sink before;
    bool isNew = false;
    {
        std::lock_guard lock(seenMutex_);
        auto it = seen_.find(info->index);
        if (it == seen_.end()) {
            isNew = true;
            seen_.emplace(info->index, std::move(now));
        } else {
            before = std::exchange(it->second, now);
        }
    }
    if (isNew) {
        listeners_.notifyDevicesChanged();
        return;
    }
    // A renamed sink changes what its entries are called, as a new list of ports does.
    if (before.ports != now.ports || before.portDescriptions != now.portDescriptions ||
        before.description != now.description || before.vendor != now.vendor) {
        listeners_.notifyDevice(info->index, HardwareProperty::DataSources, /*outputOnly=*/true);
    }
    if (before.activePort != now.activePort) {
        listeners_.notifyDevice(info->index, HardwareProperty::DataSource, /*outputOnly=*/true);
    }
}

int PulseHardware::waitUntilListed(std::chrono::milliseconds limit) {
    std::unique_lock lock(seenMutex_);
    listedChanged_.wait_for(lock, limit, [this] { return listed_ || attemptFailed_; });
    if (listed_) {
        return 0;
    }
    if (attemptFailed_) {
        const int error = connection_.lastError();
        return error != 0 ? error : PA_ERR_CONNECTIONREFUSED;
    }
    return PA_ERR_TIMEOUT;
}

// --- Queries, on the main thread, from what was seen ----------------------------------------

int PulseHardware::findSink(AudioDeviceID device, Sink& sink) {
    std::lock_guard lock(seenMutex_);
    auto it = seen_.find(device);
    if (it == seen_.end()) {
        sink = Sink{};
        return listed_ ? PA_ERR_NOENTITY : PA_ERR_BADSTATE;
    }
    sink = it->second;
    return 0;
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
    std::lock_guard lock(seenMutex_);
    for (const auto& [index, sink] : seen_) {
        devices.push_back(index);  // by index: the server's order
    }
    // Without a server there are simply no devices: what is happening is told elsewhere.
    return 0;
}

int PulseHardware::getDefaultOutputDevice(AudioDeviceID& device) {
    device = kNoAudioDevice;
    std::lock_guard lock(seenMutex_);
    if (!listed_) {
        return PA_ERR_BADSTATE;
    }
    for (const auto& [index, sink] : seen_) {
        if (sink.name == defaultSinkName_) {
            device = index;
            return 0;
        }
    }
    return PA_ERR_NOENTITY;  // no default sink: the server has none at all
}

int PulseHardware::hasStream(AudioDeviceID device, bool isInput) {
    if (isInput) {
        return PA_ERR_NOTSUPPORTED;  // sinks only play
    }
    Sink sink;
    return findSink(device, sink);
}

int PulseHardware::getDeviceName(AudioDeviceID device, bool, std::string& name) {
    Sink sink;
    const int status = findSink(device, sink);
    name = sink.description;
    return status;
}

int PulseHardware::getManufacturer(AudioDeviceID device, bool, std::string& manufacturer) {
    Sink sink;
    const int status = findSink(device, sink);
    manufacturer = sink.vendor;
    return status;
}

int PulseHardware::isDataSourceSettable(AudioDeviceID device, bool, bool& settable) {
    Sink sink;
    const int status = findSink(device, sink);
    settable = !sink.ports.empty();
    return status;
}

int PulseHardware::getDataSource(AudioDeviceID device, bool, DataSourceID& source) {
    Sink sink;
    const int status = findSink(device, sink);
    source = sink.activePort.empty() ? kNoDataSource : portID(sink.activePort);
    return status;
}

int PulseHardware::getDataSources(AudioDeviceID device, bool, std::vector<DataSourceID>& sources) {
    Sink sink;
    const int status = findSink(device, sink);
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
    if (int status = findSink(device, sink)) {
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

// --- Routing, on the main thread, with a bounded wait for the server's answer ----------------

int PulseHardware::setDataSource(AudioDeviceID device, bool, DataSourceID source) {
    const std::string port = portName(source);
    if (port.empty()) {
        return PA_ERR_NOENTITY;
    }
    PulseConnection::Lock lock(connection_);
    pa_context* context = connection_.context();
    if (!context) {
        return PA_ERR_BADSTATE;
    }
    int result = 0;
    const int status = connection_.await(
        pa_context_set_sink_port_by_index(context, device, port.c_str(), &onSuccess, &result),
        kAnswerLimit);
    return status ? status : result;
}

int PulseHardware::getCurrentDevice(OutputRouting& unit, AudioDeviceID& device) {
    device = kNoAudioDevice;
    const uint32_t stream = unit.streamIndex();
    if (stream == OutputRouting::kNoStream) {
        // Not connected yet: it will play to the sink it was routed to, else to the default.
        const std::string preferred = unit.preferredDevice();
        {
            std::lock_guard lock(seenMutex_);
            for (const auto& [index, sink] : seen_) {
                if (!preferred.empty() && sink.name == preferred) {
                    device = index;
                    return 0;
                }
            }
        }
        return getDefaultOutputDevice(device);
    }
    struct Answer {
        uint32_t sink = PA_INVALID_INDEX;
        int error = 0;
    } answer;
    PulseConnection::Lock lock(connection_);
    pa_context* context = connection_.context();
    if (!context) {
        return PA_ERR_BADSTATE;
    }
    int status = connection_.await(
        pa_context_get_sink_input_info(
            context, stream,
            [](pa_context* c, const pa_sink_input_info* info, int eol, void* userdata) {
                auto* answer = static_cast<Answer*>(userdata);
                switch (listStep(eol, info)) {
                    case ListStep::Item:
                        answer->sink = info->sink;
                        break;
                    case ListStep::End:
                        break;
                    case ListStep::Error:
                        // Returned: the caller reports it.
                        answer->error = pa_context_errno(c);
                        break;
                }
            },
            &answer),
        kAnswerLimit);
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
    Sink sink;
    if (int status = findSink(device, sink)) {
        return status;
    }
    // Kept by the unit, so that a stream made anew after a restart of the server goes there too.
    unit.setPreferredDevice(sink.name);
    const uint32_t stream = unit.streamIndex();
    if (stream == OutputRouting::kNoStream) {
        return 0;  // it connects there
    }
    PulseConnection::Lock lock(connection_);
    pa_context* context = connection_.context();
    if (!context) {
        return PA_ERR_BADSTATE;
    }
    int result = 0;
    const int status = connection_.await(
        pa_context_move_sink_input_by_index(context, stream, device, &onSuccess, &result),
        kAnswerLimit);
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

}  // namespace brinesong
