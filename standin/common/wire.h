#pragma once

// The wire protocol between the substitute client library and sim-standin.
// Every message is a frame: a 32-bit payload length, then the payload, which
// starts with a 32-bit message kind. All numbers are little-endian.
//
// Client to stand-in: a call (kind = the function), its packet id (for the
// dwSendID of exceptions it causes), its arguments. Stand-in to client: either the reply to the call in flight
// (packet id and HRESULT) or a record, whose bytes are exactly what
// SimConnect_GetNextDispatch hands out. Records that a call causes at once are
// sent before its reply, so they are queued by the time the call returns.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmar::standin::wire {

inline constexpr std::uint32_t kProtocolVersion = 1;
inline constexpr std::uint16_t kDefaultPort = 47474;
// dwVersion of every record the stand-in sends (and of the QUIT the client makes itself).
inline constexpr std::uint32_t kRecordVersion = 1;
inline constexpr const char* kPortVariable = "SIMCONNECT_STANDIN_PORT";

// Largest data block of one SetDataOnSimObject; larger ones are refused by the
// client before anything is sent.
inline constexpr std::uint32_t kMaxDataBytes = 1u << 20;
// Largest payload either side accepts; anything longer is garbage.
inline constexpr std::uint32_t kMaxPayloadBytes = kMaxDataBytes + 4096;

enum class Kind : std::uint32_t {
    Open = 1,
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
    Reply = 100,
    Record = 101,
};

struct FunctionName {
    Kind kind;
    std::string_view name;
};

// The calls that travel, by their SDK names (GetNextDispatch never leaves the client).
inline constexpr std::array<FunctionName, 11> kFunctionNames{{
    {Kind::Open, "SimConnect_Open"},
    {Kind::Close, "SimConnect_Close"},
    {Kind::AddToDataDefinition, "SimConnect_AddToDataDefinition"},
    {Kind::MapClientEventToSimEvent, "SimConnect_MapClientEventToSimEvent"},
    {Kind::AddClientEventToNotificationGroup, "SimConnect_AddClientEventToNotificationGroup"},
    {Kind::SetNotificationGroupPriority, "SimConnect_SetNotificationGroupPriority"},
    {Kind::SubscribeToSystemEvent, "SimConnect_SubscribeToSystemEvent"},
    {Kind::RequestDataOnSimObject, "SimConnect_RequestDataOnSimObject"},
    {Kind::RequestSystemState, "SimConnect_RequestSystemState"},
    {Kind::TransmitClientEvent, "SimConnect_TransmitClientEvent"},
    {Kind::SetDataOnSimObject, "SimConnect_SetDataOnSimObject"},
}};

inline std::string_view function_name(Kind kind) {
    for (const auto& entry : kFunctionNames) {
        if (entry.kind == kind) return entry.name;
    }
    return {};
}

inline std::optional<Kind> function_kind(std::string_view name) {
    for (const auto& entry : kFunctionNames) {
        if (entry.name == name) return entry.kind;
    }
    return std::nullopt;
}

// Builds one frame. Strings and blocks carry a presence byte so that a null
// pointer and an empty string stay apart.
class Writer {
public:
    explicit Writer(Kind kind) {
        bytes_.resize(4);
        u32(static_cast<std::uint32_t>(kind));
    }

    Writer& u32(std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
        return *this;
    }
    Writer& i32(std::int32_t value) { return u32(static_cast<std::uint32_t>(value)); }
    Writer& u64(std::uint64_t value) {
        u32(static_cast<std::uint32_t>(value));
        return u32(static_cast<std::uint32_t>(value >> 32));
    }
    Writer& f32(float value) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        return u32(bits);
    }
    Writer& f64(double value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        return u64(bits);
    }
    Writer& flag(bool value) {
        bytes_.push_back(value ? 1 : 0);
        return *this;
    }
    Writer& text(const char* value) {
        if (value == nullptr) return flag(false);
        return block(value, std::strlen(value));
    }
    Writer& block(const void* data, std::size_t size) {
        flag(true);
        u32(static_cast<std::uint32_t>(size));
        const auto* first = static_cast<const std::uint8_t*>(data);
        if (size > 0) bytes_.insert(bytes_.end(), first, first + size);
        return *this;
    }
    Writer& raw(const void* data, std::size_t size) {
        const auto* first = static_cast<const std::uint8_t*>(data);
        if (size > 0) bytes_.insert(bytes_.end(), first, first + size);
        return *this;
    }

    // Overwrites a number written earlier; offset counts from the start of the payload.
    Writer& patch_u32(std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes_[4 + offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
        return *this;
    }

    // The finished frame, length prefix included.
    std::vector<std::uint8_t> finish() && {
        const auto payload = static_cast<std::uint32_t>(bytes_.size() - 4);
        for (int i = 0; i < 4; ++i) bytes_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(payload >> (8 * i));
        return std::move(bytes_);
    }

private:
    std::vector<std::uint8_t> bytes_;
};

// Reads one payload. Any read past the end, or a malformed field, sets the
// reader bad; callers check ok() once at the end.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint32_t u32() {
        if (!take(4)) return 0;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<std::uint32_t>(data_[pos_ - 4 + static_cast<std::size_t>(i)]) << (8 * i);
        return value;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::uint64_t u64() {
        const std::uint64_t low = u32();
        const std::uint64_t high = u32();
        return low | (high << 32);
    }
    float f32() {
        const std::uint32_t bits = u32();
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    double f64() {
        const std::uint64_t bits = u64();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    bool flag() {
        if (!take(1)) return false;
        const std::uint8_t value = data_[pos_ - 1];
        if (value > 1) ok_ = false;
        return value == 1;
    }
    // A string or data block; nothing when the sender passed a null pointer.
    std::optional<std::string> block() {
        if (!flag()) return std::nullopt;
        const std::uint32_t size = u32();
        if (!take(size)) return std::nullopt;
        return std::string(reinterpret_cast<const char*>(data_ + pos_ - size), size);
    }
    // The rest of the payload.
    std::string rest() {
        std::string value(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
        pos_ = size_;
        return value;
    }

    bool ok() const { return ok_; }
    // True when everything was read and nothing was left over.
    bool done() const { return ok_ && pos_ == size_; }

private:
    bool take(std::size_t count) {
        if (!ok_ || size_ - pos_ < count) {
            ok_ = false;
            return false;
        }
        pos_ += count;
        return true;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// Offset of the packet id in a call's payload.
inline constexpr std::size_t kPacketIdOffset = 4;

inline std::uint32_t read_length_prefix(const std::uint8_t* bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return value;
}

}  // namespace velmar::standin::wire
