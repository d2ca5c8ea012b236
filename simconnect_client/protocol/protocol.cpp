// SimConnect's network protocol: packets and records encoded and decoded, shared by client and stand-in.

#include "protocol.h"

#include <algorithm>
#include <type_traits>
#include <utility>

namespace velmar::standin::protocol {

namespace {

struct FunctionName {
    Function function;
    std::string_view name;
};

constexpr FunctionName kFunctionNames[] = {
    {Function::Open, "SimConnect_Open"},
    {Function::Close, "SimConnect_Close"},
    {Function::AddToDataDefinition, "SimConnect_AddToDataDefinition"},
    {Function::MapClientEventToSimEvent, "SimConnect_MapClientEventToSimEvent"},
    {Function::AddClientEventToNotificationGroup, "SimConnect_AddClientEventToNotificationGroup"},
    {Function::SetNotificationGroupPriority, "SimConnect_SetNotificationGroupPriority"},
    {Function::SubscribeToSystemEvent, "SimConnect_SubscribeToSystemEvent"},
    {Function::RequestDataOnSimObject, "SimConnect_RequestDataOnSimObject"},
    {Function::RequestSystemState, "SimConnect_RequestSystemState"},
    {Function::TransmitClientEvent, "SimConnect_TransmitClientEvent"},
    {Function::SetDataOnSimObject, "SimConnect_SetDataOnSimObject"},
};

class Writer {
public:
    explicit Writer(Packet type, std::uint32_t protocol = kProtocolFsxSp2) {
        bytes_.resize(kPacketHeaderBytes);
        write_u32(bytes_.data() + 4, protocol);
        write_u32(bytes_.data() + 8, kTypeMark | static_cast<std::uint32_t>(type));
    }
    void operator()(std::uint32_t value) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + 4);
        write_u32(bytes_.data() + at, value);
    }
    void operator()(std::int32_t value) { (*this)(static_cast<std::uint32_t>(value)); }
    void operator()(float value) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        (*this)(bits);
    }
    // The caller has checked that the text fits with its terminating zero.
    void operator()(const Text& text) { raw(text.value.data(), text.value.size(), kTextBytes); }
    void operator()(const Bytes& data) { raw(data.value.data(), data.value.size(), data.value.size()); }
    void raw(const char* data, std::size_t size, std::size_t width) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + width, 0);
        if (size > 0) std::memcpy(bytes_.data() + at, data, std::min(size, width));
    }
    std::vector<std::uint8_t> finish() && {
        write_u32(bytes_.data(), static_cast<std::uint32_t>(bytes_.size()));
        return std::move(bytes_);
    }

private:
    std::vector<std::uint8_t> bytes_;
};

// Reads the arguments after the header; ok() only when they filled the packet exactly.
class Reader {
public:
    Reader(const std::uint8_t* packet, std::size_t size, std::uint32_t nulls)
        : data_(packet), size_(size), pos_(kPacketHeaderBytes), nulls_(nulls) {}
    void operator()(std::uint32_t& value) {
        if (take(4)) value = read_u32(data_ + pos_ - 4);
    }
    void operator()(std::int32_t& value) {
        if (take(4)) value = static_cast<std::int32_t>(read_u32(data_ + pos_ - 4));
    }
    void operator()(float& value) {
        if (!take(4)) return;
        const std::uint32_t bits = read_u32(data_ + pos_ - 4);
        std::memcpy(&value, &bits, sizeof value);
    }
    void operator()(Text& text) {
        text.null = next_null();
        if (!take(kTextBytes)) return;
        const auto* first = reinterpret_cast<const char*>(data_ + pos_ - kTextBytes);
        text.value.assign(first, std::find(first, first + kTextBytes, '\0'));
    }
    void operator()(Bytes& data) {
        data.null = next_null();
        data.value.assign(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
        pos_ = size_;
    }
    bool ok() const { return ok_ && pos_ == size_; }

private:
    bool take(std::size_t count) {
        if (!ok_ || size_ - pos_ < count) {
            ok_ = false;
            return false;
        }
        pos_ += count;
        return true;
    }
    bool next_null() { return ((nulls_ >> pointer_++) & 1u) != 0; }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_;
    std::uint32_t nulls_;
    unsigned pointer_ = 0;
    bool ok_ = true;
};

class NullCollector {
public:
    template <typename Number>
    void operator()(const Number&) {}
    void operator()(const Text& text) { add(text.null); }
    void operator()(const Bytes& data) { add(data.null); }
    std::uint32_t mask = 0;

private:
    void add(bool null) {
        if (null) mask |= 1u << pointer_;
        ++pointer_;
    }
    unsigned pointer_ = 0;
};

template <typename CallArguments>
std::optional<Call> try_decode(const std::uint8_t* packet, std::size_t size, std::uint32_t nulls) {
    CallArguments call;
    Reader reader(packet, size, nulls);
    call.visit(reader);
    if (!reader.ok()) return std::nullopt;
    return Call{std::move(call)};
}

// Calls `visit` with a default-made value of every call type.
template <typename Visit, std::size_t... Index>
void for_each_call(Visit visit, std::index_sequence<Index...>) {
    (visit(std::variant_alternative_t<Index, Call>{}), ...);
}
template <typename Visit>
void for_each_call(Visit visit) {
    for_each_call(visit, std::make_index_sequence<std::variant_size_v<Call>>{});
}

}  // namespace

std::string_view function_name(Function function) {
    for (const auto& entry : kFunctionNames) {
        if (entry.function == function) return entry.name;
    }
    return {};
}

std::optional<Function> function_named(std::string_view name) {
    for (const auto& entry : kFunctionNames) {
        if (entry.name == name) return entry.function;
    }
    return std::nullopt;
}

std::string_view packet_function_name(std::uint32_t type) {
    std::string_view name;
    for_each_call([&](auto arguments) {
        if (static_cast<std::uint32_t>(decltype(arguments)::kPacket) == type)
            name = function_name(decltype(arguments)::kFunction);
    });
    return name;
}

std::uint32_t read_u32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void write_u32(std::uint8_t* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::vector<std::uint8_t> encode(const Open& open) {
    Writer writer(Packet::Open, open.protocol);
    writer(open.application_name);
    writer(std::uint32_t{0});
    const char alias[4] = {0, open.alias[0], open.alias[1], open.alias[2]};
    writer.raw(alias, sizeof alias, sizeof alias);
    for (const std::uint32_t part : open.version) writer(part);
    return std::move(writer).finish();
}

std::vector<std::uint8_t> encode(const Hello& hello) {
    Writer writer(Packet::Hello);
    for (const std::uint32_t value :
         {hello.extension, hello.window, hello.user_event, hello.event_handle, hello.config_index, hello.null_name})
        writer(value);
    return std::move(writer).finish();
}

std::vector<std::uint8_t> encode_null_arguments(std::uint32_t mask) {
    Writer writer(Packet::NullArguments);
    writer(mask);
    return std::move(writer).finish();
}

std::vector<std::uint8_t> encode_close() { return Writer(Packet::Close).finish(); }

std::vector<std::uint8_t> encode(const Call& call) {
    return std::visit(
        [](auto arguments) {
            Writer writer(decltype(arguments)::kPacket);
            arguments.visit(writer);
            return std::move(writer).finish();
        },
        call);
}

void stamp_send_id(std::vector<std::uint8_t>& packet, std::uint32_t send_id) { write_u32(packet.data() + 12, send_id); }

std::uint32_t null_mask(const Call& call) {
    return std::visit(
        [](auto arguments) {
            NullCollector collector;
            arguments.visit(collector);
            return collector.mask;
        },
        call);
}

Function function_of(const Call& call) {
    return std::visit([](const auto& arguments) { return std::decay_t<decltype(arguments)>::kFunction; }, call);
}

PacketHeader read_header(const std::uint8_t* packet) {
    PacketHeader header;
    header.size = read_u32(packet);
    header.protocol = read_u32(packet + 4);
    const std::uint32_t type = read_u32(packet + 8);
    header.marked = (type & kTypeMark) == kTypeMark;
    header.type = type & ~kTypeMark;
    header.send_id = read_u32(packet + 12);
    return header;
}

std::optional<Call> decode_call(const std::uint8_t* packet, std::size_t size, std::uint32_t nulls) {
    const std::uint32_t type = read_header(packet).type;
    std::optional<Call> call;
    for_each_call([&](auto arguments) {
        if (static_cast<std::uint32_t>(decltype(arguments)::kPacket) == type)
            call = try_decode<decltype(arguments)>(packet, size, nulls);
    });
    return call;
}

std::optional<Open> decode_open(const std::uint8_t* packet, std::size_t size) {
    if (size != kOpenPacketBytes) return std::nullopt;
    Open open;
    open.protocol = read_header(packet).protocol;
    Reader reader(packet, kPacketHeaderBytes + kTextBytes, 0);
    reader(open.application_name);
    std::memcpy(open.alias.data(), packet + 277, open.alias.size());
    for (std::size_t i = 0; i < open.version.size(); ++i) open.version[i] = read_u32(packet + 280 + 4 * i);
    return open;
}

std::optional<Hello> decode_hello(const std::uint8_t* packet, std::size_t size) {
    Hello hello;
    Reader reader(packet, size, 0);
    for (std::uint32_t* field : {&hello.extension, &hello.window, &hello.user_event, &hello.event_handle,
                                 &hello.config_index, &hello.null_name})
        reader(*field);
    if (!reader.ok()) return std::nullopt;
    return hello;
}

std::optional<std::uint32_t> decode_null_arguments(const std::uint8_t* packet, std::size_t size) {
    std::uint32_t mask = 0;
    Reader reader(packet, size, 0);
    reader(mask);
    if (!reader.ok()) return std::nullopt;
    return mask;
}

}  // namespace velmar::standin::protocol
