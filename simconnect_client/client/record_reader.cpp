// Cuts the byte stream from a server into records by their dwSize.

#include "record_reader.h"

#include "../protocol/protocol.h"

namespace velmar::standin {

void RecordReader::append(const std::uint8_t* data, std::size_t size) {
    if (start_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

std::optional<RecordView> RecordReader::next() {
    if (garbage_ || buffer_.size() - start_ < 4) return std::nullopt;
    const std::uint32_t size = protocol::read_u32(buffer_.data() + start_);
    if (size < protocol::kRecordHeaderBytes || size > protocol::kMaxRecordBytes) {
        garbage_ = true;
        return std::nullopt;
    }
    if (buffer_.size() - start_ < size) return std::nullopt;
    const RecordView record{buffer_.data() + start_, size};
    start_ += size;
    return record;
}

}  // namespace velmar::standin
