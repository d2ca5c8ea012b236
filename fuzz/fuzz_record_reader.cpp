// The client library's record reader on whatever a server might send: cut
// into chunks at sizes taken from the input itself, the records must come out
// as one pass over the whole stream finds them, each within bounds, and after
// garbage nothing more.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "protocol.h"
#include "record_reader.h"

namespace {

using velmar::standin::RecordReader;
namespace protocol = velmar::standin::protocol;

struct Expected {
    std::vector<std::vector<std::uint8_t>> records;
    bool garbage = false;
    bool unfinished = false;  // bytes of a record still awaited at the end
};

// Restatement of the framing rule over the whole stream at once.
Expected frame_whole(const std::uint8_t* data, std::size_t size) {
    Expected expected;
    std::size_t pos = 0;
    while (size - pos >= 4) {
        const std::uint32_t length = protocol::read_u32(data + pos);
        if (length < protocol::kRecordHeaderBytes || length > protocol::kMaxRecordBytes) {
            expected.garbage = true;
            return expected;
        }
        if (size - pos < length) break;
        expected.records.emplace_back(data + pos, data + pos + length);
        pos += length;
    }
    expected.unfinished = pos < size;
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte chooses the chunk size: the network may cut anywhere.
    const std::size_t chunk = 1 + data[0] % 64;
    ++data;
    --size;
    const Expected expected = frame_whole(data, size);

    RecordReader reader;
    std::vector<std::vector<std::uint8_t>> records;
    for (std::size_t pos = 0; pos < size && !reader.garbage(); pos += chunk) {
        reader.append(data + pos, pos + chunk <= size ? chunk : size - pos);
        while (const auto record = reader.next()) {
            if (record->size < protocol::kRecordHeaderBytes || record->size > protocol::kMaxRecordBytes ||
                protocol::read_u32(record->bytes) != record->size)
                __builtin_trap();
            records.emplace_back(record->bytes, record->bytes + record->size);
        }
    }
    if (records != expected.records || reader.garbage() != expected.garbage) __builtin_trap();
    if (!expected.garbage && reader.mid_record() != expected.unfinished) __builtin_trap();
    if (reader.garbage() && (reader.next() || reader.mid_record())) __builtin_trap();
    return 0;
}
