#include "responder.h"

#include <fcntl.h>
#include <modbus/modbus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "wire.h"

namespace conv::gauge_sim {

namespace {

// The only channel-select register, and the holding registers libmodbus needs for it.
constexpr int kSelectRegister = 0;
constexpr int kHoldingRegisters = 1;

std::string Plural(size_t n, const char* unit) {
    return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
}

Answer Silent(std::string label, std::string why) {
    return {std::move(label), why.empty() ? "SILENT" : "SILENT (" + why + ")", {}};
}

}  // namespace

Answer ApplyFault(const Fault& fault, std::span<const uint8_t> request,
                  std::vector<uint8_t> reply) {
    Answer a;
    switch (fault.action) {
        case FaultAction::kSilent:
            a.outcome = "FAULT silent";
            break;
        case FaultAction::kException: {
            std::vector<uint8_t> frame{request[0], static_cast<uint8_t>(request[1] | 0x80),
                                       static_cast<uint8_t>(fault.code)};
            AppendCrc(frame);
            a.outcome = "FAULT exception " + std::to_string(fault.code);
            a.chunks.push_back({std::move(frame)});
            break;
        }
        case FaultAction::kLength: {
            // A well-formed frame, CRC and all, that simply has the wrong number of bytes; when
            // too short to carry a CRC it is the reply's first bytes.
            const auto length =
                static_cast<size_t>(std::max(1, static_cast<int>(reply.size()) + fault.delta));
            if (length < 3) {
                reply.resize(length);
            } else {
                reply.resize(reply.size() - 2);
                reply.resize(length - 2, 0x00);
                AppendCrc(reply);
            }
            a.outcome = "FAULT length " + Plural(reply.size(), "byte");
            a.chunks.push_back({std::move(reply)});
            break;
        }
        case FaultAction::kBadCrc: {
            const size_t n = reply.size();
            if (fault.swapCrc && reply[n - 2] != reply[n - 1]) {
                std::swap(reply[n - 2], reply[n - 1]);
            } else {
                reply[n - 1] ^= 0xFF;
            }
            a.outcome = std::string("FAULT badcrc") + (fault.swapCrc ? " (swapped)" : "");
            a.chunks.push_back({std::move(reply)});
            break;
        }
        case FaultAction::kSplit: {
            const size_t first = fault.splitAt > 0
                                     ? std::min<size_t>(fault.splitAt, reply.size() - 1)
                                     : reply.size() / 2;
            std::vector<uint8_t> rest(reply.begin() + first, reply.end());
            reply.resize(first);
            a.outcome = "FAULT split " + std::to_string(first) + "+" + Plural(rest.size(), "byte") +
                        ", rest after " + std::to_string(fault.delayMs) + " ms";
            a.chunks.push_back({std::move(reply)});
            a.chunks.push_back({std::move(rest), fault.delayMs});
            break;
        }
        case FaultAction::kStray:
            a.outcome = "FAULT stray " + Plural(fault.bytes.size(), "byte") +
                        (reply.empty() ? "" : " after " + Plural(reply.size(), "byte"));
            if (!reply.empty()) a.chunks.push_back({std::move(reply)});
            a.chunks.push_back({fault.bytes});
            break;
    }
    return a;
}

std::unique_ptr<Responder> Responder::Create(Scenario scenario, std::string& error) {
    // The context never opens its device: its descriptor is set to our pipe below. The line
    // settings only have to be valid.
    modbus_t* ctx = modbus_new_rtu("/dev/null", 19200, 'O', 8, 2);
    if (!ctx) {
        error = std::string("libmodbus context: ") + modbus_strerror(errno);
        return nullptr;
    }
    modbus_mapping_t* mapping = modbus_mapping_new(0, 0, kHoldingRegisters, kImageRegisters);
    int fds[2] = {-1, -1};
    if (!mapping || pipe2(fds, O_CLOEXEC) != 0 || fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0) {
        error = std::string("reply buffer: ") + std::strerror(errno);
        if (fds[0] >= 0) close(fds[0]);
        if (fds[1] >= 0) close(fds[1]);
        modbus_mapping_free(mapping);
        modbus_free(ctx);
        return nullptr;
    }
    modbus_set_socket(ctx, fds[1]);
    auto responder = std::unique_ptr<Responder>(
        new Responder(std::move(scenario), ctx, mapping, fds[0], fds[1]));
    responder->Replace(std::move(responder->scenario_));
    return responder;
}

Responder::Responder(Scenario scenario, modbus_t* ctx, modbus_mapping_t* mapping, int pipeRead,
                     int pipeWrite)
    : scenario_(std::move(scenario)),
      ctx_(ctx),
      mapping_(mapping),
      pipeRead_(pipeRead),
      pipeWrite_(pipeWrite) {}

Responder::~Responder() {
    close(pipeRead_);
    close(pipeWrite_);
    modbus_mapping_free(mapping_);
    modbus_free(ctx_);
}

void Responder::Replace(Scenario scenario) {
    scenario_ = std::move(scenario);
    // libmodbus answers whatever address a request carries; the address is filtered before a
    // request gets here. It keeps the scenario's address for its own checks where MODBUS
    // allows it (addresses above 247 are reserved, yet the converter may be set to them).
    if (scenario_.slave <= 247) modbus_set_slave(ctx_, scenario_.slave);
}

Channel* Responder::Selected() {
    if (!selected_) return nullptr;
    const auto it = scenario_.channels.find(*selected_);
    return it == scenario_.channels.end() ? nullptr : &it->second;
}

const Fault* Responder::PickFault(Channel* channel, RequestKind kind) {
    const Fault* hit = nullptr;
    auto scan = [&](std::vector<Fault>& faults) {
        for (Fault& f : faults) {
            const bool matches = f.on ? *f.on == kind : kind != RequestKind::kZero;
            if (matches && f.Hits() && !hit) hit = &f;
        }
    };
    scan(scenario_.faults);
    if (channel) scan(channel->faults);
    return hit;
}

std::vector<uint8_t> Responder::BuildReply(std::span<const uint8_t> frame) {
    const uint8_t function = frame[1];
    // modbus_reply trusts the request's own length fields; only the fixed eight-byte requests
    // may reach it, anything else is refused as an illegal function.
    const bool fixedLength = function == 0x03 || function == 0x04 || function == 0x06;
    if (fixedLength) {
        modbus_reply(ctx_, frame.data(), static_cast<int>(frame.size()), mapping_);
    } else {
        modbus_reply_exception(ctx_, frame.data(), MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
    }
    std::vector<uint8_t> reply(MODBUS_RTU_MAX_ADU_LENGTH);
    const ssize_t n = read(pipeRead_, reply.data(), reply.size());
    reply.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return reply;
}

Answer Responder::OnZeroByte() {
    Channel* channel = Selected();
    const std::string label =
        "zero" + (channel ? " after ch " + std::to_string(channel->address) : std::string());
    const Fault* fault = PickFault(channel, RequestKind::kZero);
    if (!fault || fault->action == FaultAction::kSilent) return Silent(label, "");
    Answer a = ApplyFault(*fault, {}, {});
    a.label = label;
    return a;
}

Answer Responder::OnFrame(std::span<const uint8_t> frame) {
    const uint8_t function = frame[1];
    const auto reg = static_cast<uint16_t>(frame[2] << 8 | frame[3]);
    const auto word = static_cast<uint16_t>(frame[4] << 8 | frame[5]);
    const RequestKind kind = ClassifyRequest(function, reg, word);
    if (frame[0] != scenario_.slave) {
        return Silent(std::string(KindName(kind)), "slave " + std::to_string(frame[0]));
    }

    Channel* channel = nullptr;
    std::string label(KindName(kind));
    if (kind == RequestKind::kSelect) {
        label += " ch " + std::to_string(word);
        const auto it = scenario_.channels.find(word);
        if (it == scenario_.channels.end()) {
            // A channel the system does not have answers nothing, and nothing stays selected.
            selected_.reset();
            return Silent(label, "no channel " + std::to_string(word));
        }
        channel = &it->second;
    } else {
        channel = Selected();
        if (!channel) return Silent(label, "no channel selected");
        label += " ch " + std::to_string(channel->address);
        std::copy(channel->image.begin(), channel->image.end(), mapping_->tab_input_registers);
    }

    const Fault* fault = PickFault(channel, kind);
    // A select that was not heard, or refused, leaves the selection as it was.
    const bool unheard = fault && (fault->action == FaultAction::kSilent ||
                                   fault->action == FaultAction::kException);
    if (kind == RequestKind::kSelect && !unheard) {
        selected_ = channel->address;
    }
    std::vector<uint8_t> reply;
    if (!fault || fault->action != FaultAction::kSilent) {
        reply = BuildReply(frame);
        if (reply.empty()) return Silent(label, "libmodbus built no reply");
    }
    if (fault) {
        Answer a = ApplyFault(*fault, frame, std::move(reply));
        a.label = label;
        return a;
    }
    Answer a{label, "REPLY " + Plural(reply.size(), "byte"), {}};
    a.chunks.push_back({std::move(reply)});
    return a;
}

}  // namespace conv::gauge_sim
