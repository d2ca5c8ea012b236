#pragma once

// Cuts the server's byte stream into records by their dwSize. Whatever the
// server sends, it never reads out of bounds and never waits for a record
// that cannot be: a size below the 12-byte header or above the limit makes
// the stream garbage for good.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velmar::standin {

struct RecordView {
    const std::uint8_t* bytes;
    std::size_t size;
};

class RecordReader {
public:
    // Records returned by next() stay valid until the next append().
    void append(const std::uint8_t* data, std::size_t size);
    // The next whole record, or nothing until more bytes arrive (or for good, once garbage()).
    std::optional<RecordView> next();
    bool garbage() const { return garbage_; }
    // Part of a record has arrived and the rest is awaited.
    bool mid_record() const { return !garbage_ && buffer_.size() > start_; }

private:
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;  // first byte not yet handed out
    bool garbage_ = false;
};

}  // namespace velmar::standin
