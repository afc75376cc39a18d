// What the fuzz targets share: a reader that takes the fuzzer's bytes in order (the seeds in
// corpus/ are written in each target's input format, given at its top), a check that stops the
// run loudly, and the log panes, port and tank table a protocol step works on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "log/operation_log.h"
#include "store/tank_table.h"
#include "support/fake_port.h"

namespace conv::fuzz {

// A broken invariant: say which, then crash so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                           \
    ((cond) ? void()                                                                               \
            : (std::fprintf(stderr, "INVARIANT BROKEN at %s:%d: %s\n", __FILE__, __LINE__, #cond), \
               std::abort()))

// The fuzzer's bytes in order; a short input reads on as zeros, never as an error.
struct ByteReader {
    const uint8_t* data;
    size_t size;
    size_t used = 0;
    bool Empty() const { return used >= size; }
    uint8_t Byte() { return used < size ? data[used++] : 0; }
    test::Bytes Bytes(size_t n) {
        test::Bytes out(n);
        for (uint8_t& b : out) b = Byte();
        return out;
    }
};

// The panes, log, port and tank table of a step, with the step's own `State`: allocated once for
// the run (the tank tables are large) and made as new for every input.
template <class State>
struct Bench {
    static Bench& Fresh() {
        static Bench* b = new Bench;
        std::destroy_at(b);
        std::construct_at(b)->log.LogEnabled = 1;
        return *b;
    }
    MemoryPane left, right;
    OperationLog log{left, right};
    test::FakePort port;
    TankTable table;
    State state;
};

}  // namespace conv::fuzz
