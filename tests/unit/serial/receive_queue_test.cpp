// The fake port of the poll and host tests keeps its receive queue the way the real port does:
// the same script runs against both, so a test that cuts a reply in two on the fake port tells
// the truth about a real line.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "serial/serial_port.h"
#include "support/fake_port.h"
#include "support/pty_pair.h"

namespace conv::test {
namespace {

// A line as the script sees it: the port under test and a way to make bytes arrive on it.
struct Line {
    SerialPort& port;
    std::function<void(const Bytes&)> send;
};

// Reads with `capacity` until `want` bytes came (a pseudo-terminal hands bytes over a little
// later) or a second passed; each read's count goes to `counts`.
Bytes ReadUntil(SerialPort& port, int capacity, size_t want, std::vector<int>& counts) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
        uint8_t buf[1024];
        const int n = port.ReadAvailable(buf, capacity);
        if (n < 0) return got;
        if (n > 0) {
            counts.push_back(n);
            got.insert(got.end(), buf, buf + n);
        }
    }
    return got;
}

void KeepsWhatItDidNotHandOut(Line line) {
    const Bytes reply = Hex("50 04 06 00 00 00 07 00 00 20 C1");
    line.send(reply);
    std::vector<int> counts;
    // A reader with room for four bytes at a time still gets the whole reply, in order.
    EXPECT_EQ(ReadUntil(line.port, 4, reply.size(), counts), reply);
    for (int n : counts) EXPECT_LE(n, 4);

    // What arrives between two reads waits for the next one, however it came.
    line.send(Hex("50 04"));
    line.send(Hex("06 00"));
    counts.clear();
    EXPECT_EQ(ReadUntil(line.port, 1024, 4, counts), Hex("50 04 06 00"));
    uint8_t buf[16];
    EXPECT_EQ(line.port.ReadAvailable(buf, sizeof buf), 0);
}

TEST(ReceiveQueue, TheFakePortKeepsWhatItDidNotHandOut) {
    FakePort port;
    KeepsWhatItDidNotHandOut({port, [&](const Bytes& b) { port.Arrive(b); }});
    EXPECT_EQ(port.Waiting(), 0u);
}

TEST(ReceiveQueue, SoDoesTheSystemPort) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    auto port = MakeSystemSerialPort();
    ASSERT_TRUE(port->Open(pty.SlavePath(), 1024, 1024, 19200, 8, kTwoStopBits, kParityOdd));
    KeepsWhatItDidNotHandOut({*port, [&](const Bytes& b) { pty.WriteMaster(b); }});
}

}  // namespace
}  // namespace conv::test
