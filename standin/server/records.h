#pragma once

// The records sim-standin sends, byte for byte as the SDK lays them out.

#include <SimConnect.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmar::standin {

using RecordBytes = std::vector<std::uint8_t>;

// The 2020 simulator's answer to Open, with sim-standin's mark in the reserved fields.
RecordBytes open_record();
RecordBytes quit_record();
RecordBytes exception_record(DWORD code, DWORD send_id, DWORD index);
// System events carry no group (4294967295); notifications of a client's own events carry its group.
RecordBytes event_record(DWORD event_id, DWORD data, DWORD group_id = SIMCONNECT_RECV_EVENT::UNKNOWN_GROUP);
// `text` is cut to MAX_PATH bytes; a path of exactly that length has no terminating zero, as in the SDK.
RecordBytes system_state_record(DWORD request_id, DWORD integer, std::string_view text);
RecordBytes data_record(DWORD request_id, DWORD define_id, DWORD flags, DWORD count, const std::string& payload);
// Private: the HRESULT of the packet with `send_id`, for clients that asked for acknowledgements.
RecordBytes ack_record(std::uint32_t send_id, std::int32_t result);

}  // namespace velmar::standin
