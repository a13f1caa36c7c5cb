// The control protocol: one command a line, answered by optional "+ " data
// lines and a closing "ok ..." or "err ..." line.
#include <cstdint>
#include <sstream>

#include "sim/byte_escapes.h"
#include "sim/control_table.h"
#include "sim/control_words.h"
#include "sim/simulator.h"

namespace linkbay {
namespace sim {

namespace {

using Words = std::vector<std::string>;
using Handler = std::string (*)(Simulator&, const Words&);

constexpr uint64_t kMaxDelayMs = 600000;

// words[index] as a number, or the fallback when the command stops earlier.
bool OptionalNumber(const Words& words, size_t index, uint64_t fallback, uint64_t& value) {
    value = fallback;
    return words.size() <= index || ParseUnsigned(words[index], value);
}

std::string Path(Simulator& simulator, const Words&) { return Ok(simulator.devicePath()); }

std::string Exchanges(Simulator& simulator, const Words&) { return Ok(std::to_string(simulator.exchanges())); }

std::string Mark(Simulator& simulator, const Words&) {
    return Ok(std::to_string(simulator.wireLog().nextSequence()));
}

bool ParseSince(const Words& words, uint64_t& since) { return words.size() <= 2 && OptionalNumber(words, 1, 0, since); }
const char kSinceError[] = "SINCE must be a sequence number, as 'mark' gives";

std::string Log(Simulator& simulator, const Words& words) {
    uint64_t since = 0;
    if (!ParseSince(words, since)) return Err(kSinceError);
    std::string text;
    for (const WireEntry& entry : simulator.wireLog().since(since)) {
        const bool event = entry.direction == WireDirection::kEvent;
        text += "+ " + std::to_string(entry.sequence) + " " + std::to_string(entry.timeUs) + " " +
                static_cast<char>(entry.direction) + " " + (event ? entry.bytes : EscapeBytes(entry.bytes)) + "\n";
    }
    return text + Ok(std::to_string(simulator.wireLog().nextSequence()));
}

std::string BytesOneWay(Simulator& simulator, const Words& words, WireDirection direction) {
    uint64_t since = 0;
    if (!ParseSince(words, since)) return Err(kSinceError);
    return Ok(EscapeBytes(simulator.wireLog().bytesSince(since, direction)));
}
std::string Sent(Simulator& simulator, const Words& words) { return BytesOneWay(simulator, words, WireDirection::kIn); }
std::string Replied(Simulator& simulator, const Words& words) {
    return BytesOneWay(simulator, words, WireDirection::kOut);
}

std::string ClearLog(Simulator& simulator, const Words&) {
    simulator.wireLog().clear();
    return Ok();
}

std::string PlanFault(Simulator& simulator, const Words& words) {
    Fault fault;
    uint64_t exchange = 0, amount = 0, count = 1;
    if (words.size() < 3 || words.size() > 5) return Err("usage: fault K|next KIND [N|BYTES [COUNT]]");
    if (words[1] != "next" && (!ParseUnsigned(words[1], exchange) || exchange == 0)) {
        return Err("exchange must be 'next' or a number from 1 ('exchanges' tells how many were served)");
    }
    if (!ParseFaultKind(words[2], fault.kind) || fault.kind == FaultKind::kNone) {
        return Err("unknown fault '" + words[2] + "': silence, short, stall, garbage, reject, hangup or reply");
    }
    if (fault.kind == FaultKind::kReply) {
        // One word, so that COUNT can follow: a space is \x20.
        if (words.size() < 4 || !UnescapeBytes(words[3], fault.bytes)) {
            return Err("reply wants BYTES escaped as 'sent' shows them, a space as \\x20");
        }
    } else if (!OptionalNumber(words, 3, 0, amount) || amount > kMaxDelayMs) {
        return Err("N must be a number up to 600000");
    }
    if (!OptionalNumber(words, 4, 1, count) || count < 1 || count > 1000) {
        return Err("COUNT must be a number from 1 to 1000");
    }
    if (exchange > UINT64_MAX - (count - 1)) return Err("K + COUNT - 1 must not pass 18446744073709551615");
    fault.amount = static_cast<uint32_t>(amount);
    const uint64_t first = simulator.planFault(exchange, fault, static_cast<uint32_t>(count));
    if (first == 0) {
        return Err("the plan holds " + std::to_string(Simulator::kMaxPlannedFaults) +
                   " faults at most; 'clear-faults' forgets them");
    }
    return Ok(std::to_string(first));
}

std::string ClearFaults(Simulator& simulator, const Words&) {
    simulator.clearFaults();
    return Ok();
}

std::string HangUp(Simulator& simulator, const Words& words) {
    uint64_t ms = 0;
    if (words.size() > 2 || !OptionalNumber(words, 1, 500, ms) || ms > kMaxDelayMs) {
        return Err("MS must be a number up to 600000");
    }
    simulator.hangUp(static_cast<uint32_t>(ms));
    return Ok();
}

std::string Pacing(Simulator& simulator, const Words& words) {
    if (words.size() != 2 || (words[1] != "on" && words[1] != "off")) return Err("usage: pacing on|off");
    simulator.setPacing(words[1] == "on");
    return Ok();
}

std::string Baud(Simulator& simulator, const Words& words) {
    uint64_t baud = 0;
    if (words.size() != 2 || !ParseUnsigned(words[1], baud) || baud > 4000000) {
        return Err("usage: baud N (0 to 4000000; 0 follows the driver's rate)");
    }
    simulator.setInstrumentBaud(static_cast<uint32_t>(baud));
    return Ok();
}

std::string Line(Simulator& simulator, const Words&) {
    return Ok("baud=" + std::to_string(simulator.lineBaud()) + " paced=" + std::to_string(simulator.pacingBaud()));
}

std::string Clock(Simulator& simulator, const Words& words) {
    if (words.size() != 2 || (words[1] != "manual" && words[1] != "real")) return Err("usage: clock manual|real");
    simulator.setManualClock(words[1] == "manual");
    return Ok();
}

std::string Advance(Simulator& simulator, const Words& words) {
    uint64_t ms = 0;
    // Every 20 ms step draws its pulses: an hour at a time keeps a step quick.
    if (words.size() != 2 || !ParseUnsigned(words[1], ms) || ms > 3600000) {
        return Err("usage: advance MS (up to 3600000)");
    }
    simulator.advanceClock(ms);
    return Ok();
}

std::string Start(Simulator& simulator, const Words&) {
    simulator.withModel([](InstrumentModel& model) { model.startAcquisition(); });
    return Ok();
}

std::string Stop(Simulator& simulator, const Words&) {
    simulator.withModel([](InstrumentModel& model) { model.stopAcquisition(); });
    return Ok();
}

std::string Status(Simulator& simulator, const Words&) {
    const bool acquiring = simulator.withModel([](InstrumentModel& model) { return model.acquiring(); });
    return Ok("acquiring=" + std::to_string(acquiring ? 1 : 0) + " exchanges=" +
              std::to_string(simulator.exchanges()) + " returns=" + std::to_string(simulator.returns()));
}

std::string Quit(Simulator& simulator, const Words&) {
    simulator.requestQuit();
    return Ok();
}

std::string Help(Simulator& simulator, const Words&);

const ControlRow<Handler> kCommands[] = {
    {"help", Help, "help                      this list"},
    {"path", Path, "path                      device path of the line now"},
    {"exchanges", Exchanges, "exchanges                 number of exchanges served so far"},
    {"mark", Mark, "mark                      sequence number the next wire-log entry gets"},
    {"log", Log, "log [SINCE]               wire log: sequence, microseconds, < in > out ! event, bytes"},
    {"sent", Sent, "sent [SINCE]              bytes the driver sent since the mark, escaped"},
    {"replied", Replied, "replied [SINCE]           bytes the instrument sent since the mark, escaped"},
    {"clear-log", ClearLog, "clear-log                 forget the wire log (sequence numbers keep counting)"},
    {"fault", PlanFault,
     "fault K|next KIND [N [COUNT]]  fault on COUNT exchanges from K: silence, short [bytes],\n"
     "                          stall [ms], garbage [bytes], reject, hangup [ms until the line returns],\n"
     "                          reply BYTES (in place of N: sent instead of the answer, escaped,\n"
     "                          a space as \\x20); 10000 planned at most"},
    {"clear-faults", ClearFaults, "clear-faults              forget planned faults"},
    {"hangup", HangUp, "hangup [MS]               drop the line now; it returns after MS (500)"},
    {"pacing", Pacing, "pacing on|off             replies take their wire time (10 bits a byte)"},
    {"baud", Baud, "baud N                    the instrument's rate; 0 follows the rate the driver sets"},
    {"line", Line, "line                      rate the driver set and the rate replies are paced at"},
    {"start", Start, "start                     start acquiring"},
    {"stop", Stop, "stop                      stop acquiring"},
    {"clock", Clock, "clock manual|real         acquisition time from 'advance' only, or from real time"},
    {"advance", Advance, "advance MS                let MS of acquisition time pass"},
    {"status", Status, "status                    acquiring flag, exchanges and returns of the line"},
    {"quit", Quit, "quit                      end the simulator program"},
};

std::string Help(Simulator& simulator, const Words&) {
    std::string text;
    const std::string model = simulator.withModel([](InstrumentModel& model) { return model.controlHelp(); });
    std::istringstream lines(ControlHelpText(kCommands) + model);
    for (std::string line; std::getline(lines, line);) text += "+ " + line + "\n";
    return text + Ok();
}

}  // namespace

std::string Simulator::ControlHelp() { return ControlHelpText(kCommands); }

std::string Simulator::control(const std::string& line) {
    const Words words = SplitWords(line);
    if (words.empty()) return Err("empty command; try 'help'");
    // The model first: a command of its own may share a word with one of
    // these ('status OFFSET'); it declines the lines it does not take.
    std::string reply;
    if (withModel([&](InstrumentModel& model) { return model.control(words, reply); })) return reply;
    if (const auto* command = FindControl(kCommands, words[0])) return command->handler(*this, words);
    return Err("unknown command '" + words[0] + "'; try 'help'");
}

}  // namespace sim
}  // namespace linkbay
