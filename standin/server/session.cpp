// What the simulator keeps for one client and does for each of its calls and frames.

#include "session.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

namespace velmar::standin {

namespace {

constexpr std::size_t kInitPositionBytes = sizeof(SIMCONNECT_DATA_INITPOSITION);

struct SystemEventName {
    std::string_view name;
    SystemEvent event;
};

// The system events the simulator documents; those not simulated here are accepted and never sent.
constexpr SystemEventName kSystemEvents[] = {
    {"SIM", SystemEvent::Sim},
    {"PAUSE", SystemEvent::Pause},
    {"PAUSE_EX1", SystemEvent::PauseEx1},
    {"PAUSED", SystemEvent::Paused},
    {"UNPAUSED", SystemEvent::Unpaused},
    {"SIMSTART", SystemEvent::SimStart},
    {"SIMSTOP", SystemEvent::SimStop},
    {"AIRCRAFTLOADED", SystemEvent::Other},
    {"1SEC", SystemEvent::Other},
    {"4SEC", SystemEvent::Other},
    {"6HZ", SystemEvent::Other},
    {"FRAME", SystemEvent::Other},
    {"FLIGHTLOADED", SystemEvent::Other},
    {"CRASHED", SystemEvent::Other},
    {"POSITIONCHANGED", SystemEvent::Other},
};

// The argument index of the client event id in MapClientEventToSimEvent and SubscribeToSystemEvent.
constexpr DWORD kEventIdIndex = 1;

// Simulator events that do something here; any name with a '.' (custom) or
// starting with '#' (third-party id), and the empty name (private), are
// accepted and do nothing.
constexpr std::string_view kSimEvents[] = {
    "PAUSE_TOGGLE", "PAUSE_ON", "PAUSE_OFF", "PAUSE_SET", "ACTIVE_PAUSE_TOGGLE", "SIM_PAUSE_TOGGLE",
};

std::optional<SystemEvent> find_system_event(const protocol::Text& name) {
    if (name.null) return std::nullopt;
    const std::string wanted = upper(name.value);
    for (const auto& entry : kSystemEvents) {
        if (entry.name == wanted) return entry.event;
    }
    return std::nullopt;
}

bool known_sim_event(const std::string& name) {
    if (name.empty() || name.front() == '#' || name.find('.') != std::string::npos) return true;
    return std::find(std::begin(kSimEvents), std::end(kSimEvents), name) != std::end(kSimEvents);
}

std::size_t datum_size(DWORD type) {
    switch (type) {
        case SIMCONNECT_DATATYPE_INT32:
        case SIMCONNECT_DATATYPE_FLOAT32:
            return 4;
        case SIMCONNECT_DATATYPE_INT64:
        case SIMCONNECT_DATATYPE_FLOAT64:
            return 8;
        case SIMCONNECT_DATATYPE_INITPOSITION:
            return kInitPositionBytes;
        default:
            return 0;
    }
}

template <typename Integer>
Integer saturate(double value) {
    if (!std::isfinite(value)) return 0;
    constexpr auto low = static_cast<double>(std::numeric_limits<Integer>::min());
    constexpr auto high = static_cast<double>(std::numeric_limits<Integer>::max());
    if (value <= low) return std::numeric_limits<Integer>::min();
    if (value >= high) return std::numeric_limits<Integer>::max();
    return static_cast<Integer>(value);
}

template <typename Value>
void append_bytes(std::string& out, const Value& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename Value>
Value read_bytes(const char* data) {
    Value value{};
    std::memcpy(&value, data, sizeof value);
    return value;
}

// A datum's bytes as a number (INITPOSITION has none).
double number_of(DWORD type, const char* bytes) {
    switch (type) {
        case SIMCONNECT_DATATYPE_INT32:
            return read_bytes<std::int32_t>(bytes);
        case SIMCONNECT_DATATYPE_INT64:
            return static_cast<double>(read_bytes<std::int64_t>(bytes));
        case SIMCONNECT_DATATYPE_FLOAT32:
            return static_cast<double>(read_bytes<float>(bytes));
        default:
            return read_bytes<double>(bytes);
    }
}

}  // namespace

struct Session::Context {
    std::uint32_t send_id;
    World& world;
    std::vector<RecordBytes>& out;
    CallEffect effect;

    void exception(DWORD code, DWORD index) { out.push_back(exception_record(code, send_id, index)); }
};

CallEffect Session::apply(const protocol::Call& call, std::uint32_t send_id, World& world,
                          std::vector<RecordBytes>& out) {
    Context context{send_id, world, out, CallEffect{std::nullopt, 0, world.pause_modes}};
    std::visit([&](const auto& arguments) { apply(arguments, context); }, call);
    return context.effect;
}

void Session::apply(const protocol::AddToDataDefinition& call, Context& context) {
    const bool refused = call.datum_name.null || context.world.unknown_variables.count(upper(call.datum_name.value));
    const auto variable = refused ? std::nullopt : find_variable(call.datum_name.value);
    if (!variable) return context.exception(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 2);
    const auto type = static_cast<DWORD>(call.datum_type);
    const bool position = *variable == Variable::InitialPosition;
    if (position != (type == SIMCONNECT_DATATYPE_INITPOSITION) || datum_size(type) == 0) {
        return context.exception(SIMCONNECT_EXCEPTION_INVALID_DATA_TYPE, 4);
    }
    double factor = 1;
    if (!position) {
        const auto found = unit_factor(*variable, call.units_name.value);
        if (!found) return context.exception(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 3);
        factor = *found;
    }
    definitions_[call.define_id].push_back(Datum{*variable, factor, type, call.epsilon, call.datum_id});
}

void Session::apply(const protocol::MapClientEventToSimEvent& call, Context& context) {
    if (event_ids_.count(call.event_id))
        return context.exception(SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE, kEventIdIndex);
    const std::string wanted = upper(call.event_name.value);
    if (!known_sim_event(wanted)) return context.exception(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 2);
    event_ids_.insert(call.event_id);
    mappings_[call.event_id] = wanted;
}

void Session::apply(const protocol::AddClientEventToNotificationGroup& call, Context& context) {
    if (mappings_.count(call.event_id) == 0) return context.exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
    groups_[call.group_id].push_back(call.event_id);
}

void Session::apply(const protocol::SetNotificationGroupPriority& call, Context& context) {
    if (groups_.count(call.group_id) == 0) context.exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1);
}

void Session::apply(const protocol::SubscribeToSystemEvent& call, Context& context) {
    if (event_ids_.count(call.event_id))
        return context.exception(SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE, kEventIdIndex);
    const auto event = find_system_event(call.event_name);
    if (!event) return context.exception(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 2);
    event_ids_.insert(call.event_id);
    subscriptions_.emplace_back(call.event_id, *event);
    // Like the simulator, "Pause", "Pause_EX1" and "Sim" answer with the current state at once.
    if (*event == SystemEvent::Pause)
        context.out.push_back(event_record(call.event_id, context.world.paused() ? 1 : 0));
    if (*event == SystemEvent::PauseEx1) context.out.push_back(event_record(call.event_id, context.world.pause_modes));
    if (*event == SystemEvent::Sim) context.out.push_back(event_record(call.event_id, 1));
}

void Session::apply(const protocol::RequestDataOnSimObject& call, Context& context) {
    const auto period = static_cast<DWORD>(call.period);
    if (period == SIMCONNECT_PERIOD_NEVER) {
        requests_.erase(call.request_id);
        return;
    }
    if (definitions_.count(call.define_id) == 0) return context.exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
    if (call.object_id != SIMCONNECT_OBJECT_ID_USER) return context.exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 3);
    if (period > SIMCONNECT_PERIOD_SECOND) return context.exception(SIMCONNECT_EXCEPTION_INVALID_ENUM, 4);
    Request request;
    request.definition = call.define_id;
    request.period = period;
    request.flags = call.flags;
    request.origin = call.origin;
    request.interval = call.interval;
    request.limit = call.limit;
    request.start_frame = context.world.frame_count;
    requests_[call.request_id] = std::move(request);  // replaces any earlier one: a fresh first frame
}

void Session::apply(const protocol::RequestSystemState& call, Context& context) {
    const std::string wanted = upper(call.state_name.value);
    if (wanted == "AIRCRAFTLOADED") {
        context.out.push_back(system_state_record(call.request_id, 0, context.world.aircraft_path));
    } else if (wanted == "SIM") {
        context.out.push_back(system_state_record(call.request_id, 1, {}));
    } else if (wanted == "DIALOGMODE" || wanted == "FLIGHTLOADED" || wanted == "FLIGHTPLAN") {
        context.out.push_back(system_state_record(call.request_id, 0, {}));
    } else {
        context.exception(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 2);
    }
}

void Session::apply(const protocol::TransmitClientEvent& call, Context& context) {
    if (call.object_id != SIMCONNECT_OBJECT_ID_USER) return context.exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1);
    const auto mapping = mappings_.find(call.event_id);
    if (mapping == mappings_.end()) return context.exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
    const std::string& event = mapping->second;
    std::uint32_t& modes = context.world.pause_modes;
    if (event == "PAUSE_TOGGLE") modes ^= kPauseMode;
    if (event == "PAUSE_ON") modes |= kPauseMode;
    if (event == "PAUSE_SET") modes = call.data != 0 ? modes | kPauseMode : modes & ~kPauseMode;
    if (event == "PAUSE_OFF") modes = 0;
    if (event == "ACTIVE_PAUSE_TOGGLE") modes ^= kActivePauseMode;
    if (event == "SIM_PAUSE_TOGGLE") modes ^= kSimPauseMode;
    context.effect.transmitted = event;
    context.effect.data = call.data;
}

void Session::apply(const protocol::SetDataOnSimObject& call, Context& context) {
    const auto definition = definitions_.find(call.define_id);
    if (definition == definitions_.end()) return context.exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1);
    if (call.object_id != SIMCONNECT_OBJECT_ID_USER) return context.exception(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
    if (call.data.null) return context.exception(SIMCONNECT_EXCEPTION_DATA_ERROR, 6);
    const std::string& data = call.data.value;
    const std::vector<Datum>& datums = definition->second;
    Aircraft& aircraft = context.world.aircraft;
    const auto apply_datum = [&aircraft](const Datum& datum, const char* bytes) {
        if (datum.type == SIMCONNECT_DATATYPE_INITPOSITION) {
            aircraft.place(read_bytes<SIMCONNECT_DATA_INITPOSITION>(bytes));
        } else {
            aircraft.set(datum.variable, number_of(datum.type, bytes) / datum.factor);
        }
    };
    if ((call.flags & SIMCONNECT_DATA_SET_FLAG_TAGGED) != 0) {
        // (datum id, value) pairs; checked whole before anything is applied.
        std::vector<std::pair<const Datum*, std::size_t>> writes;
        std::size_t pos = 0;
        while (pos < data.size()) {
            if (data.size() - pos < 4) return context.exception(SIMCONNECT_EXCEPTION_SIZE_MISMATCH, 6);
            const auto id = read_bytes<DWORD>(data.data() + pos);
            const auto datum =
                std::find_if(datums.begin(), datums.end(), [id](const Datum& d) { return d.datum_id == id; });
            if (datum == datums.end()) return context.exception(SIMCONNECT_EXCEPTION_DATUM_ID, 6);
            if (data.size() - pos - 4 < datum_size(datum->type)) {
                return context.exception(SIMCONNECT_EXCEPTION_SIZE_MISMATCH, 6);
            }
            writes.emplace_back(&*datum, pos + 4);
            pos += 4 + datum_size(datum->type);
        }
        for (const auto& [datum, offset] : writes) apply_datum(*datum, data.data() + offset);
        return;
    }
    std::size_t needed = 0;
    for (const Datum& datum : datums) needed += datum_size(datum.type);
    if (data.size() < needed) return context.exception(SIMCONNECT_EXCEPTION_SIZE_MISMATCH, 6);
    std::size_t offset = 0;
    for (const Datum& datum : datums) {
        apply_datum(datum, data.data() + offset);
        offset += datum_size(datum.type);
    }
}

void Session::pause_changed(std::uint32_t before, std::uint32_t after, std::vector<RecordBytes>& out) const {
    if (before == after) return;
    const bool flipped = (before != 0) != (after != 0);
    for (const auto& [event_id, event] : subscriptions_) {
        if (event == SystemEvent::PauseEx1) out.push_back(event_record(event_id, after));
        if (event == SystemEvent::Pause && flipped) out.push_back(event_record(event_id, after != 0 ? 1 : 0));
        if (event == SystemEvent::Paused && (after & ~before) != 0) out.push_back(event_record(event_id, 1));
        if (event == SystemEvent::Unpaused && before != 0 && after == 0) out.push_back(event_record(event_id, 0));
    }
}

void Session::notify(const std::string& sim_event, DWORD data, std::vector<RecordBytes>& out) const {
    for (const auto& [group_id, event_ids] : groups_) {
        for (const DWORD event_id : event_ids) {
            const auto mapping = mappings_.find(event_id);
            if (mapping != mappings_.end() && mapping->second == sim_event)
                out.push_back(event_record(event_id, data, group_id));
        }
    }
}

void Session::frame(const World& world, std::vector<RecordBytes>& out) {
    for (auto entry = requests_.begin(); entry != requests_.end();) {
        const bool finished = send_request(entry->first, entry->second, world, out);
        entry = finished ? requests_.erase(entry) : std::next(entry);
    }
}

// True when the request has run its course.
bool Session::send_request(DWORD request_id, Request& request, const World& world, std::vector<RecordBytes>& out) {
    const auto definition = definitions_.find(request.definition);
    bool due = false;
    switch (request.period) {
        case SIMCONNECT_PERIOD_ONCE:
        case SIMCONNECT_PERIOD_VISUAL_FRAME:
        case SIMCONNECT_PERIOD_SIM_FRAME:
            due = true;
            break;
        case SIMCONNECT_PERIOD_SECOND: {
            const auto frames_per_second = static_cast<std::uint64_t>(std::max(1.0, std::round(world.rate_hz)));
            due = (world.frame_count - request.start_frame - 1) % frames_per_second == 0;
            break;
        }
        default:
            break;
    }
    if (!due || definition == definitions_.end()) return false;

    const std::uint64_t index = request.periods++;
    const bool once = request.period == SIMCONNECT_PERIOD_ONCE;
    const bool scheduled =
        once || (index >= request.origin &&
                 (request.interval == 0 || (index - request.origin) % (request.interval + 1ull) == 0));
    if (!scheduled) return false;

    const std::vector<Datum>& datums = definition->second;
    std::vector<std::string> values;
    std::vector<bool> changed;
    for (const Datum& datum : datums) {
        std::string bytes;
        if (datum.type == SIMCONNECT_DATATYPE_INITPOSITION) {
            append_bytes(bytes, world.aircraft.position());
        } else {
            const double value = world.aircraft.value(datum.variable) * datum.factor;
            switch (datum.type) {
                case SIMCONNECT_DATATYPE_INT32:
                    append_bytes(bytes, saturate<std::int32_t>(value));
                    break;
                case SIMCONNECT_DATATYPE_INT64:
                    append_bytes(bytes, saturate<std::int64_t>(value));
                    break;
                case SIMCONNECT_DATATYPE_FLOAT32:
                    append_bytes(bytes, static_cast<float>(value));
                    break;
                default:
                    append_bytes(bytes, value);
                    break;
            }
        }
        const std::size_t i = values.size();
        bool differs = request.last_values.size() != datums.size() || request.last_values[i] != bytes;
        if (differs && request.last_values.size() == datums.size() && datum.type != SIMCONNECT_DATATYPE_INITPOSITION) {
            // A change counts when it is larger than the datum's epsilon (whole units for integers).
            const double previous = number_of(datum.type, request.last_values[i].data());
            const double current = datum.type == SIMCONNECT_DATATYPE_INT64
                                       ? world.aircraft.value(datum.variable) * datum.factor
                                       : number_of(datum.type, bytes.data());
            double epsilon = static_cast<double>(datum.epsilon);
            if (datum.type == SIMCONNECT_DATATYPE_INT32 || datum.type == SIMCONNECT_DATATYPE_INT64) {
                epsilon = std::trunc(epsilon);
            }
            const bool both_nan = std::isnan(previous) && std::isnan(current);
            differs = !both_nan && !(std::fabs(current - previous) <= epsilon);
        }
        values.push_back(std::move(bytes));
        changed.push_back(differs);
    }

    const bool any_changed = std::find(changed.begin(), changed.end(), true) != changed.end();
    const bool only_changes = (request.flags & SIMCONNECT_DATA_REQUEST_FLAG_CHANGED) != 0 && !once;
    if (request.sent_any && only_changes && !any_changed) return once;
    const bool tagged = (request.flags & SIMCONNECT_DATA_REQUEST_FLAG_TAGGED) != 0;
    std::string payload;
    DWORD count = 0;
    for (std::size_t i = 0; i < datums.size(); ++i) {
        if (tagged && only_changes && request.sent_any && !changed[i]) continue;
        if (tagged) append_bytes(payload, datums[i].datum_id);
        payload += values[i];
        ++count;
    }
    out.push_back(data_record(request_id, request.definition, request.flags, count, payload));
    request.sent_any = true;
    ++request.sent;
    request.last_values = std::move(values);
    return once || (request.limit != 0 && request.sent >= request.limit);
}

}  // namespace velmar::standin
