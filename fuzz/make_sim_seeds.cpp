// Writes the simulator fuzzer's seeds: short scripts of the requests a KORV
// driver sends, control lines tests use, and steps of time, one file each,
// in the step encoding sim_fuzz.cpp reads.
#include <cstdio>
#include <string>
#include <vector>

namespace {

enum Op : char { kWire = 0, kRefused = 1, kControl = 2, kAdvance = 3 };

struct Step {
    Op op;
    std::string text;  // bytes or line; for kAdvance milliseconds in decimal, below 65536
};

const std::vector<std::vector<Step>> kScripts = {
    {{kWire, "33\r"}, {kWire, "03 1024\r"}, {kWire, "33\r"}, {kWire, "fb\r"}},
    {{kWire, "a2 01 0100 0199\r"}, {kWire, "a4 1 5000\r"}, {kWire, "f6 1\r"}, {kWire, "80\r"}},
    {{kWire, "2f 02 29 24 23 59 00\r"}, {kWire, "5f\r"}, {kWire, "92 0\r"}, {kWire, "79\r"}},
    {{kWire, "12 0\r"}, {kWire, "6B\r"}, {kWire, "71\r"}, {kWire, "63\r"}, {kWire, "64\r"}},
    {{kWire, "02 0\r"}, {kWire, "01 2\r"}, {kWire, "10 0\r"}, {kWire, "92 0\r"}, {kAdvance, "2500"},
     {kWire, "66\r"}, {kWire, "67\r"}, {kWire, "68\r"}, {kWire, "96\r"}, {kWire, "a0\r"}},
    {{kWire, "3"}, {kWire, "3\r6"}, {kRefused, "7\r"}, {kWire, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
     {kWire, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx93\r"}},
    {{kControl, "mark"}, {kControl, "status"}, {kControl, "fault next garbage 0 2"}, {kWire, "33\r"},
     {kControl, "sent 0"}, {kControl, "log 0"}},
    {{kControl, "set live-percent 90"}, {kControl, "start"}, {kControl, "advance 1000"}, {kControl, "counts 0 8"},
     {kControl, "times"}},
    {{kControl, "set-counts 0 5 6 7\nwidth 1\nannounce 3"}, {kWire, "fb\r"}, {kControl, "set-counts 1 0x10000"},
     {kWire, "fb\r"}, {kControl, "counts 0 4"}},
    {{kControl, "request a2 01 0100 0199"}, {kControl, "roi 1"}, {kControl, "reg 03"}, {kControl, "help"}},
    {{kControl, "set rate 10000"}, {kWire, "92\r"}, {kAdvance, "60000"}, {kWire, "fb\r"}, {kControl, "stop"}},
};

std::string Encode(const std::vector<Step>& script) {
    std::string bytes;
    for (const Step& step : script) {
        bytes += static_cast<char>(step.op);
        if (step.op == kAdvance) {
            const unsigned long ms = std::stoul(step.text);
            bytes += static_cast<char>(ms & 0xff);
            bytes += static_cast<char>((ms >> 8) & 0xff);
        } else {
            bytes += static_cast<char>(step.text.size());
            bytes += step.text;
        }
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    for (size_t i = 0; i < kScripts.size(); ++i) {
        const std::string path = std::string(argv[1]) + "/script" + std::to_string(i);
        const std::string bytes = Encode(kScripts[i]);
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
            std::perror(path.c_str());
            return 1;
        }
        std::fclose(file);
    }
    std::printf("%zu seeds written to %s\n", kScripts.size(), argv[1]);
    return 0;
}
