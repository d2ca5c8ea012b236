// The records sim-standin sends, byte for byte in the SDK's layouts.

#include "records.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "protocol.h"

namespace velmar::standin {

namespace {

template <typename Record>
Record make_record(DWORD id) {
    static_assert(std::is_trivially_copyable_v<Record>);
    Record record{};
    record.dwSize = sizeof(Record);
    record.dwVersion = protocol::kServerVersion;
    record.dwID = id;
    return record;
}

template <typename Record>
RecordBytes bytes_of(const Record& record) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(&record);
    return RecordBytes(first, first + sizeof(Record));
}

}  // namespace

RecordBytes open_record() {
    auto record = make_record<SIMCONNECT_RECV_OPEN>(SIMCONNECT_RECV_ID_OPEN);
    static_assert(sizeof record == 308);
    std::strncpy(record.szApplicationName, "KittyHawk", sizeof record.szApplicationName - 1);
    record.dwApplicationVersionMajor = 11;
    record.dwApplicationVersionMinor = 0;
    record.dwApplicationBuildMajor = 282174;
    record.dwApplicationBuildMinor = 999;
    record.dwSimConnectVersionMajor = 11;
    record.dwSimConnectVersionMinor = 0;
    record.dwSimConnectBuildMajor = 62651;
    record.dwSimConnectBuildMinor = 3;
    record.dwReserved1 = protocol::kStandinMark;
    record.dwReserved2 = protocol::kExtensionVersion;
    return bytes_of(record);
}

RecordBytes quit_record() { return bytes_of(make_record<SIMCONNECT_RECV_QUIT>(SIMCONNECT_RECV_ID_QUIT)); }

RecordBytes exception_record(DWORD code, DWORD send_id, DWORD index) {
    auto record = make_record<SIMCONNECT_RECV_EXCEPTION>(SIMCONNECT_RECV_ID_EXCEPTION);
    record.dwException = code;
    record.dwSendID = send_id;
    record.dwIndex = index;
    return bytes_of(record);
}

RecordBytes event_record(DWORD event_id, DWORD data, DWORD group_id) {
    auto record = make_record<SIMCONNECT_RECV_EVENT>(SIMCONNECT_RECV_ID_EVENT);
    record.uGroupID = group_id;
    record.uEventID = event_id;
    record.dwData = data;
    return bytes_of(record);
}

RecordBytes system_state_record(DWORD request_id, DWORD integer, std::string_view text) {
    auto record = make_record<SIMCONNECT_RECV_SYSTEM_STATE>(SIMCONNECT_RECV_ID_SYSTEM_STATE);
    record.dwRequestID = request_id;
    record.dwInteger = integer;
    if (!text.empty())
        std::memcpy(record.szString, text.data(), std::min<std::size_t>(text.size(), sizeof record.szString));
    return bytes_of(record);
}

RecordBytes data_record(DWORD request_id, DWORD define_id, DWORD flags, DWORD count, const std::string& payload) {
    auto record = make_record<SIMCONNECT_RECV_SIMOBJECT_DATA>(SIMCONNECT_RECV_ID_SIMOBJECT_DATA);
    // dwData is the first four bytes of the payload, not a header field.
    constexpr std::size_t kHeaderBytes = sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA) - sizeof(DWORD);
    record.dwSize = static_cast<DWORD>(kHeaderBytes + payload.size());
    record.dwRequestID = request_id;
    record.dwObjectID = SIMCONNECT_OBJECT_ID_USER;
    record.dwDefineID = define_id;
    record.dwFlags = flags;
    record.dwentrynumber = 1;
    record.dwoutof = 1;
    record.dwDefineCount = count;
    RecordBytes bytes(kHeaderBytes + payload.size());
    std::memcpy(bytes.data(), &record, kHeaderBytes);
    if (!payload.empty()) std::memcpy(bytes.data() + kHeaderBytes, payload.data(), payload.size());
    return bytes;
}

RecordBytes ack_record(std::uint32_t send_id, std::int32_t result) {
    const protocol::AckRecord record{sizeof(protocol::AckRecord), protocol::kServerVersion, protocol::kAckRecordId,
                                     send_id, result};
    return bytes_of(record);
}

}  // namespace velmar::standin
