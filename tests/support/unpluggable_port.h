// A fake port whose device can be unplugged: while it is away, a read of the open port finds the
// device gone (a line error that DeviceGone tells apart), and every open fails until it is back.
#pragma once

#include "support/fake_port.h"

namespace conv::test {

class UnpluggablePort : public FakePort {
  public:
    bool present = true;
    int opens = 0;
    int baud = 0;  // of the last open

    bool Open(const std::string& name, int rx, int tx, int b, int bits, int stop,
              int par) override {
        ++opens;
        baud = b;
        return present && FakePort::Open(name, rx, tx, b, bits, stop, par);
    }
    int ReadAvailable(uint8_t* buffer, int capacity) override {
        gone_ = gone_ || (IsOpen() && !present);
        return gone_ ? -1 : FakePort::ReadAvailable(buffer, capacity);
    }
    void Close() override {
        gone_ = false;
        FakePort::Close();
    }
    bool DeviceGone() const override { return gone_; }

  private:
    bool gone_ = false;
};

}  // namespace conv::test
