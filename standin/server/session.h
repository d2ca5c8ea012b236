#pragma once

// What the simulator keeps for one client (data definitions, requests, event
// mappings, subscriptions) and what it does for each of its calls and frames.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "../common/protocol.h"
#include "aircraft.h"
#include "records.h"

namespace velmar::standin {

// The simulator every session sees.
struct World {
    Aircraft aircraft;
    std::string aircraft_path;
    double rate_hz = 30;
    std::uint64_t frame_count = 0;
    bool frozen = false;
    bool pause = false;
    bool active_pause = false;
    bool sim_pause = false;
    bool paused() const { return pause || active_pause || sim_pause; }
};

enum class SystemEvent { Sim, Pause, Paused, Unpaused, SimStart, SimStop };

class Session {
public:
    // Carries out a call; the records it causes go to `out`, its exceptions
    // with `send_id`. True when the call changed the paused state, which
    // every session must then hear (paused_changed).
    bool apply(const protocol::Call& call, std::uint32_t send_id, World& world, std::vector<RecordBytes>& out);
    // The data records due in this frame.
    void frame(const World& world, std::vector<RecordBytes>& out);
    void paused_changed(bool now_paused, std::vector<RecordBytes>& out) const;

private:
    struct Datum {
        Variable variable;
        double factor;  // from the variable's own unit to the requested one
        DWORD type;
        float epsilon;
        DWORD datum_id;
    };
    struct Request {
        DWORD definition = 0;
        DWORD period = 0;
        DWORD flags = 0;
        DWORD origin = 0;
        DWORD interval = 0;
        DWORD limit = 0;
        std::uint64_t start_frame = 0;
        std::uint64_t periods = 0;
        std::uint32_t sent = 0;
        bool sent_any = false;
        std::vector<std::string> last_values;  // bytes of each datum as last sent
    };
    struct Context;

    void apply(const protocol::AddToDataDefinition& call, Context& context);
    void apply(const protocol::MapClientEventToSimEvent& call, Context& context);
    void apply(const protocol::AddClientEventToNotificationGroup& call, Context& context);
    void apply(const protocol::SetNotificationGroupPriority& call, Context& context);
    void apply(const protocol::SubscribeToSystemEvent& call, Context& context);
    void apply(const protocol::RequestDataOnSimObject& call, Context& context);
    void apply(const protocol::RequestSystemState& call, Context& context);
    void apply(const protocol::TransmitClientEvent& call, Context& context);
    void apply(const protocol::SetDataOnSimObject& call, Context& context);
    bool send_request(DWORD request_id, Request& request, const World& world, std::vector<RecordBytes>& out);

    std::map<DWORD, std::vector<Datum>> definitions_;
    std::map<DWORD, Request> requests_;
    std::map<DWORD, std::string> mappings_;  // client event id -> simulator event name (upper case)
    std::map<DWORD, std::vector<DWORD>> groups_;
    std::vector<std::pair<DWORD, SystemEvent>> subscriptions_;  // in subscription order
};

}  // namespace velmar::standin
