#pragma once

// SimConnect's network protocol as our client library writes it and
// sim-standin reads it: client packets, the calls' argument layouts and the
// framing of server records. The bytes are the simulator's; the private
// extension that only our two sides agree on is marked as such below.
//
// A client packet: 16-byte header (size, protocol version, 0xF0000000 | type,
// send id), then the call's arguments in declaration order, unpadded. Strings
// are fixed 256-byte fields, zero padded. A server record: 12-byte header
// (size, version, record id), then the SDK's struct. All little-endian.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velmar::standin::protocol {

inline constexpr std::uint16_t kDefaultPort = 47474;
inline constexpr const char* kPortVariable = "SIMCONNECT_STANDIN_PORT";

inline constexpr std::size_t kPacketHeaderBytes = 16;
inline constexpr std::size_t kRecordHeaderBytes = 12;
inline constexpr std::uint32_t kTypeMark = 0xF0000000u;
inline constexpr std::size_t kTextBytes = 256;

// Protocol versions in the packet header: FSX SP2, then the 2020 and 2024 simulators.
inline constexpr std::uint32_t kProtocolFsxSp2 = 4;
inline constexpr std::uint32_t kProtocolKittyHawk = 5;
inline constexpr std::uint32_t kProtocolSunRise = 6;
// What sim-standin puts in dwVersion of its records: the simulator it plays.
inline constexpr std::uint32_t kServerVersion = kProtocolKittyHawk;

// Largest data block of one SetDataOnSimObject; the client refuses larger ones.
inline constexpr std::uint32_t kMaxDataBytes = 1u << 20;
inline constexpr std::size_t kMaxPacketBytes = kPacketHeaderBytes + 20 + kMaxDataBytes;
// Records larger than this are garbage, whatever their header says.
inline constexpr std::size_t kMaxRecordBytes = 1u << 20;

enum class Packet : std::uint32_t {
    Open = 0x01,
    MapClientEventToSimEvent = 0x04,
    TransmitClientEvent = 0x05,
    AddClientEventToNotificationGroup = 0x07,
    SetNotificationGroupPriority = 0x09,
    AddToDataDefinition = 0x0C,
    RequestDataOnSimObject = 0x0E,
    SetDataOnSimObject = 0x10,
    SubscribeToSystemEvent = 0x17,
    RequestSystemState = 0x35,
    // Private, sent only to a server that marked itself in RECV_OPEN: far
    // above every type the simulators use.
    Hello = 0x7A01,          // the rest of Open's arguments; asks for acknowledgements
    NullArguments = 0x7A02,  // which pointer arguments of the next packet were null
    Close = 0x7A03,          // SimConnect_Close, so that it can be logged and answered
};

// The private extension: RECV_OPEN's two reserved fields say "sim-standin,
// extension 1"; the acknowledgement record answers every packet after Hello.
inline constexpr std::uint32_t kStandinMark = 0x4E445453;  // "STDN"
inline constexpr std::uint32_t kExtensionVersion = 1;
inline constexpr std::uint32_t kAckRecordId = 0x7A01;
inline constexpr std::size_t kOpenRecordBytes = 308;
inline constexpr std::size_t kOpenReservedOffset = 300;  // dwReserved1, then dwReserved2
struct AckRecord {
    std::uint32_t size;
    std::uint32_t version;
    std::uint32_t id;  // kAckRecordId
    std::uint32_t send_id;
    std::int32_t result;  // the HRESULT of the call
};

// The functions a client calls that reach the server, by their SDK names
// (for the call log and the `fail` control line).
enum class Function {
    Open,
    Close,
    AddToDataDefinition,
    MapClientEventToSimEvent,
    AddClientEventToNotificationGroup,
    SetNotificationGroupPriority,
    SubscribeToSystemEvent,
    RequestDataOnSimObject,
    RequestSystemState,
    TransmitClientEvent,
    SetDataOnSimObject,
};
std::string_view function_name(Function function);
std::optional<Function> function_named(std::string_view name);
// The SDK name of the call a packet type carries; empty for other types.
std::string_view packet_function_name(std::uint32_t type);

// A 256-byte string field; a null pointer travels as an empty field.
struct Text {
    std::string value;
    bool null = false;
};
// The data block at the end of a packet.
struct Bytes {
    std::string value;
    bool null = false;
};

// Each call's arguments in wire order. visit() is the one description of the
// layout: the writer, the reader and the call log all walk it.
struct AddToDataDefinition {
    static constexpr Function kFunction = Function::AddToDataDefinition;
    static constexpr Packet kPacket = Packet::AddToDataDefinition;
    std::uint32_t define_id = 0;
    Text datum_name;
    Text units_name;
    std::int32_t datum_type = 0;
    float epsilon = 0;
    std::uint32_t datum_id = 0;
    template <typename Visitor>
    void visit(Visitor& v) {
        v(define_id), v(datum_name), v(units_name), v(datum_type), v(epsilon), v(datum_id);
    }
};
struct MapClientEventToSimEvent {
    static constexpr Function kFunction = Function::MapClientEventToSimEvent;
    static constexpr Packet kPacket = Packet::MapClientEventToSimEvent;
    std::uint32_t event_id = 0;
    Text event_name;
    template <typename Visitor>
    void visit(Visitor& v) {
        v(event_id), v(event_name);
    }
};
struct AddClientEventToNotificationGroup {
    static constexpr Function kFunction = Function::AddClientEventToNotificationGroup;
    static constexpr Packet kPacket = Packet::AddClientEventToNotificationGroup;
    std::uint32_t group_id = 0;
    std::uint32_t event_id = 0;
    std::int32_t maskable = 0;
    template <typename Visitor>
    void visit(Visitor& v) {
        v(group_id), v(event_id), v(maskable);
    }
};
struct SetNotificationGroupPriority {
    static constexpr Function kFunction = Function::SetNotificationGroupPriority;
    static constexpr Packet kPacket = Packet::SetNotificationGroupPriority;
    std::uint32_t group_id = 0;
    std::uint32_t priority = 0;
    template <typename Visitor>
    void visit(Visitor& v) {
        v(group_id), v(priority);
    }
};
struct SubscribeToSystemEvent {
    static constexpr Function kFunction = Function::SubscribeToSystemEvent;
    static constexpr Packet kPacket = Packet::SubscribeToSystemEvent;
    std::uint32_t event_id = 0;
    Text event_name;
    template <typename Visitor>
    void visit(Visitor& v) {
        v(event_id), v(event_name);
    }
};
struct RequestDataOnSimObject {
    static constexpr Function kFunction = Function::RequestDataOnSimObject;
    static constexpr Packet kPacket = Packet::RequestDataOnSimObject;
    std::uint32_t request_id = 0;
    std::uint32_t define_id = 0;
    std::uint32_t object_id = 0;
    std::int32_t period = 0;
    std::uint32_t flags = 0;
    std::uint32_t origin = 0;
    std::uint32_t interval = 0;
    std::uint32_t limit = 0;
    template <typename Visitor>
    void visit(Visitor& v) {
        v(request_id), v(define_id), v(object_id), v(period), v(flags), v(origin), v(interval), v(limit);
    }
};
struct RequestSystemState {
    static constexpr Function kFunction = Function::RequestSystemState;
    static constexpr Packet kPacket = Packet::RequestSystemState;
    std::uint32_t request_id = 0;
    Text state_name;
    template <typename Visitor>
    void visit(Visitor& v) {
        v(request_id), v(state_name);
    }
};
struct TransmitClientEvent {
    static constexpr Function kFunction = Function::TransmitClientEvent;
    static constexpr Packet kPacket = Packet::TransmitClientEvent;
    std::uint32_t object_id = 0;
    std::uint32_t event_id = 0;
    std::uint32_t data = 0;
    std::uint32_t group_id = 0;
    std::uint32_t flags = 0;
    template <typename Visitor>
    void visit(Visitor& v) {
        v(object_id), v(event_id), v(data), v(group_id), v(flags);
    }
};
struct SetDataOnSimObject {
    static constexpr Function kFunction = Function::SetDataOnSimObject;
    static constexpr Packet kPacket = Packet::SetDataOnSimObject;
    std::uint32_t define_id = 0;
    std::uint32_t object_id = 0;
    std::uint32_t flags = 0;
    std::uint32_t array_count = 0;
    std::uint32_t unit_size = 0;
    Bytes data;
    template <typename Visitor>
    void visit(Visitor& v) {
        v(define_id), v(object_id), v(flags), v(array_count), v(unit_size), v(data);
    }
};

using Call = std::variant<AddToDataDefinition, MapClientEventToSimEvent, AddClientEventToNotificationGroup,
                          SetNotificationGroupPriority, SubscribeToSystemEvent, RequestDataOnSimObject,
                          RequestSystemState, TransmitClientEvent, SetDataOnSimObject>;

// Open in the FSX SP2 encoding, which the 2020 and 2024 simulators accept.
struct Open {
    std::uint32_t protocol = kProtocolFsxSp2;
    Text application_name;
    std::array<char, 3> alias{'X', 'S', 'F'};
    std::array<std::uint32_t, 4> version{10, 0, 61259, 0};  // major, minor, build major, build minor
};
inline constexpr std::size_t kOpenPacketBytes = 296;

// Private: the Open arguments that the simulator's Open packet has no room for.
struct Hello {
    std::uint32_t extension = kExtensionVersion;
    std::uint32_t window = 0;  // 1 when a window handle was given
    std::uint32_t user_event = 0;
    std::uint32_t event_handle = 0;  // 1 when an event handle was given
    std::uint32_t config_index = 0;
    std::uint32_t null_name = 0;  // 1 when the name was a null pointer (Open sent it empty)
};

std::uint32_t read_u32(const std::uint8_t* bytes);
void write_u32(std::uint8_t* bytes, std::uint32_t value);

// A whole packet (header included) with send id 0; stamp_send_id() sets it.
std::vector<std::uint8_t> encode(const Open& open);
std::vector<std::uint8_t> encode(const Hello& hello);
std::vector<std::uint8_t> encode_null_arguments(std::uint32_t mask);
std::vector<std::uint8_t> encode_close();
std::vector<std::uint8_t> encode(const Call& call);
void stamp_send_id(std::vector<std::uint8_t>& packet, std::uint32_t send_id);

// Bit i set: the i-th string or data argument was a null pointer.
std::uint32_t null_mask(const Call& call);
Function function_of(const Call& call);

struct PacketHeader {
    std::uint32_t size = 0;
    std::uint32_t protocol = 0;
    std::uint32_t type = 0;  // with the 0xF0000000 mark removed
    std::uint32_t send_id = 0;
    bool marked = false;  // the 0xF0000000 mark was there
};
PacketHeader read_header(const std::uint8_t* packet);  // at least kPacketHeaderBytes

// The call a packet carries, or nothing when its type is not a call or its
// size does not fit the layout. `nulls` (from a NullArguments packet) marks
// pointer arguments as null.
std::optional<Call> decode_call(const std::uint8_t* packet, std::size_t size, std::uint32_t nulls = 0);
std::optional<Open> decode_open(const std::uint8_t* packet, std::size_t size);
std::optional<Hello> decode_hello(const std::uint8_t* packet, std::size_t size);
std::optional<std::uint32_t> decode_null_arguments(const std::uint8_t* packet, std::size_t size);

}  // namespace velmar::standin::protocol
