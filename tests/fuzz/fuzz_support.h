// What the fuzz targets share: a reader that takes the fuzzer's bytes in order (the seeds in
// corpus/ are written in each target's input format, given at its top), a check that stops the
// run loudly, and the log panes and port a protocol step works on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "log/operation_log.h"
#include "support/fake_port.h"

namespace conv::fuzz {

// A broken invariant: say which, then crash so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                           \
    ((cond) ? void()                                                                               \
            : (std::fprintf(stderr, "INVARIANT BROKEN at %s:%d: %s\n", __FILE__, __LINE__, #cond), \
               std::abort()))

class ByteReader {
  public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    size_t Used() const { return pos_; }
    // 0 once the input is used up: a short input reads as zeros, never as an error.
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::vector<uint8_t> Bytes(size_t n) {
        std::vector<uint8_t> out(n);
        for (uint8_t& b : out) b = Byte();
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Allocated once for the whole run (the tank tables are large) and reset for every input.
struct Bench {
    void Reset() {
        left = right = MemoryPane();
        port = test::FakePort();
        log.LogEnabled = 1;
    }
    MemoryPane left, right;
    OperationLog log{left, right};
    test::FakePort port;
};

}  // namespace conv::fuzz
