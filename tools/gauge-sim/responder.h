// The gauge system's side of the conversation: which channel is selected, what each request is
// answered with, and which faults are committed instead.
//
// Replies are built by libmodbus (modbus_reply on a modbus_mapping_t holding the selected
// channel's registers). libmodbus writes what it builds to its context's descriptor; that
// descriptor is a pipe of ours, so every reply can be read back, damaged by a fault if the
// scenario says so, and only then put on the line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "scenario.h"

struct _modbus;
typedef struct _modbus modbus_t;
struct _modbus_mapping_t;
typedef struct _modbus_mapping_t modbus_mapping_t;

namespace conv::gauge_sim {

// One piece of an answer: sent `delayMs` after the piece before it (or after the request).
struct Chunk {
    std::vector<uint8_t> bytes;
    int delayMs = 0;
};

struct Answer {
    std::string label;    // "main ch 5": the request's kind and the channel it went to
    std::string outcome;  // "REPLY 89 bytes", "SILENT", "FAULT badcrc", ...
    std::vector<Chunk> chunks;
};

// Turns a good reply into the faulty one the fault describes (pure; exposed for checks).
Answer ApplyFault(const Fault& fault, std::span<const uint8_t> request, std::vector<uint8_t> reply);

class Responder {
  public:
    // Empty, with `error` set, when libmodbus cannot be set up.
    static std::unique_ptr<Responder> Create(Scenario scenario, std::string& error);
    ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    // A new scenario, fault counters afresh; the selected channel stays selected.
    void Replace(Scenario scenario);
    const Scenario& Current() const { return scenario_; }

    Answer OnZeroByte();
    // `frame`: eight bytes with a good CRC.
    Answer OnFrame(std::span<const uint8_t> frame);

  private:
    Responder(Scenario scenario, modbus_t* ctx, modbus_mapping_t* mapping, int pipeRead,
              int pipeWrite);

    Channel* Selected();
    // First fault of the scenario-wide list, then of the channel's, that hits this request.
    // Every matching fault counts the request, hit or not.
    const Fault* PickFault(Channel* channel, RequestKind kind);
    // Lets libmodbus answer `frame` from the mapping and reads back what it wrote.
    std::vector<uint8_t> BuildReply(std::span<const uint8_t> frame);

    Scenario scenario_;
    std::optional<int> selected_;
    modbus_t* ctx_;
    modbus_mapping_t* mapping_;
    int pipeRead_;
    int pipeWrite_;
};

}  // namespace conv::gauge_sim
