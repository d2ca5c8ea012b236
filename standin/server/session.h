#pragma once

// What the simulator keeps for one client (data definitions, requests, event
// mappings, subscriptions) and what it does for each of its calls and frames.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "protocol.h"
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
    std::uint32_t pause_modes = 0;            // "Pause_EX1" bits: kPauseMode, kActivePauseMode, kSimPauseMode
    std::set<std::string> unknown_variables;  // upper case: refused for definitions added from now on
    bool paused() const { return pause_modes != 0; }
};

inline constexpr std::uint32_t kPauseMode = 1;
inline constexpr std::uint32_t kActivePauseMode = 4;
inline constexpr std::uint32_t kSimPauseMode = 8;
inline constexpr std::uint32_t kAllPauseModes = kPauseMode | kActivePauseMode | kSimPauseMode;

enum class SystemEvent { Sim, Pause, PauseEx1, Paused, Unpaused, SimStart, SimStop, Other };

// What a call did that other sessions must hear of.
struct CallEffect {
    std::optional<std::string> transmitted;  // a simulator event a client transmitted (upper case)
    DWORD data = 0;                          // its dwData
    std::uint32_t modes_before = 0;          // the pause modes before the call
};

class Session {
public:
    // Carries out a call; the records it causes go to `out`, its exceptions
    // with `send_id`. What every session must then hear is in the effect
    // (notify, pause_changed).
    CallEffect apply(const protocol::Call& call, std::uint32_t send_id, World& world, std::vector<RecordBytes>& out);
    // The data records due in this frame.
    void frame(const World& world, std::vector<RecordBytes>& out);
    // The simulator's pause news, from `before` to `world.pause_modes`.
    void pause_changed(std::uint32_t before, std::uint32_t after, std::vector<RecordBytes>& out) const;
    // A transmitted simulator event, to each of this client's events mapped to it in a notification group.
    void notify(const std::string& sim_event, DWORD data, std::vector<RecordBytes>& out) const;

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
    std::set<DWORD> event_ids_;                                 // client event ids taken by a mapping or a subscription
    std::vector<std::pair<DWORD, SystemEvent>> subscriptions_;  // in subscription order
};

}  // namespace velmar::standin
