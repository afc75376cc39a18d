// What the fuzz targets share: a reader that takes the fuzzer's bytes in order (so that the seed
// corpus can be written by hand and by make_seeds.py) and a check that stops the run loudly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace conv::fuzz {

// A broken invariant: say which, then crash so that libFuzzer keeps the input.
[[noreturn]] inline void Broken(const char* what, const char* file, int line) {
    std::fprintf(stderr, "INVARIANT BROKEN at %s:%d: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(cond) \
    ((cond) ? static_cast<void>(0) : ::conv::fuzz::Broken(#cond, __FILE__, __LINE__))

class ByteReader {
  public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return pos_ >= size_; }
    size_t Left() const { return size_ - pos_; }
    // 0 once the input is used up: a short input reads as zeros, never as an error.
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t Word() {
        const uint16_t hi = Byte();
        return static_cast<uint16_t>(hi << 8 | Byte());
    }
    std::vector<uint8_t> Bytes(size_t n) {
        std::vector<uint8_t> out;
        out.reserve(n);
        for (size_t i = 0; i < n; ++i) out.push_back(Byte());
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace conv::fuzz
