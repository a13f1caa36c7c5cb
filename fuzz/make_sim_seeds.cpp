// Writes the seeds of a simulator fuzz target: short scripts of the requests
// the family's driver sends, control lines tests use, and steps of time, one
// file each, in the step encoding sim_fuzz_driver.h describes.
#include <cstdio>
#include <string>
#include <vector>

namespace {

enum Op : char { kWire = 0, kRefused = 1, kControl = 2, kAdvance = 3 };

struct Step {
    Op op;
    std::string text;  // bytes or line; for kAdvance milliseconds in decimal, below 65536
};

using Script = std::vector<Step>;

const std::vector<Script> kKorvScripts = {
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

// A ZEPH request frame: sync word, code and three parameters little-endian, end mark.
std::string Frame(unsigned code, unsigned p1 = 0, unsigned p2 = 0, unsigned p3 = 0) {
    std::string bytes = "\xA5\x5A";
    for (unsigned value : {code, p1, p2, p3}) {
        bytes += static_cast<char>(value & 0xff);
        bytes += static_cast<char>((value >> 8) & 0xff);
    }
    return bytes + "\xB9\x9B";
}

const std::vector<Script> kZephScripts = {
    {{kWire, Frame(0x5A)}, {kWire, Frame(0x46, 1024, 5, 1000)}, {kWire, Frame(0x5A)}, {kWire, Frame(0x59)}},
    {{kWire, Frame(0x57, 0, 0x4F52, 1)}, {kWire, Frame(0x57, 1, 100, 199)}, {kWire, Frame(0x48, 3, 50)},
     {kWire, Frame(0x42, 1, 0x5678, 0x1234)}, {kAdvance, "5000"}, {kWire, Frame(0x5A)}, {kWire, Frame(0x5E, 1)}},
    {{kWire, Frame(0x48, 1, 2)}, {kWire, Frame(0x42)}, {kAdvance, "2500"}, {kWire, Frame(0x5A)},
     {kWire, Frame(0x44, 3)}, {kWire, Frame(0x43)}, {kWire, Frame(0x41)}},
    {{kWire, Frame(0x4F, 1200, 0xFFFF)}, {kWire, Frame(0x4D, 1, 990, 1009)}, {kWire, Frame(0x52, 3)},
     {kWire, Frame(0x54, 4)}, {kWire, Frame(0x58, 0, 1200)}, {kWire, Frame(0x5A)}},
    {{kControl, "set-counts 4064 1 2 3"}, {kWire, Frame(0x5B, 4064, 1)}, {kRefused, Frame(0x5B, 0, 1)},
     {kWire, std::string("\x00\xA5\xA5", 3) + Frame(0x5A)}, {kWire, std::string(40, '\x11')}},
    {{kControl, "status 130 4\nstatus 30 1500\nmeasure 2 7\nroi 1 10 20\nroi 0 1\nroi mark"},
     {kControl, "request 0x5a"}, {kWire, Frame(0x5A)}, {kControl, "status 130 2"}, {kWire, Frame(0x5A)}},
};

// A TAVO/PELLUX request frame: total and reply length big-endian, the command
// number low byte first, words big-endian, then texts each with its NUL.
std::string Numbered(unsigned code, unsigned replyLength, std::vector<unsigned> words = {},
                     std::vector<std::string> texts = {}) {
    std::string params;
    for (unsigned word : words) {
        for (int shift = 24; shift >= 0; shift -= 8) params += static_cast<char>((word >> shift) & 0xff);
    }
    for (const std::string& text : texts) params += text + '\0';
    std::string bytes;
    for (unsigned field : {static_cast<unsigned>(10 + params.size()), replyLength}) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((field >> shift) & 0xff);
    }
    bytes += static_cast<char>(code & 0xff);
    bytes += static_cast<char>(code >> 8);
    return bytes + params;
}

const std::vector<Script> kTavoScripts = {
    {{kWire, Numbered(158, 10)}, {kWire, Numbered(52, 2, {7})}, {kWire, Numbered(111, 6)},
     {kWire, Numbered(53, 2, {1024})}, {kWire, Numbered(97, 92)}, {kWire, Numbered(112, 6)}},
    {{kWire, Numbered(72, 2, {1000, 100})}, {kWire, Numbered(60, 2, {50})}, {kWire, Numbered(165, 2)},
     {kAdvance, "5000"}, {kWire, Numbered(147, 18)}, {kWire, Numbered(140, 10)}, {kWire, Numbered(133, 10)},
     {kWire, Numbered(187, 514, {960})}, {kWire, Numbered(121, 6, {1000, 100})}},
    {{kWire, Numbered(63, 2, {100})}, {kWire, Numbered(165, 2)}, {kAdvance, "2500"}, {kWire, Numbered(125, 6)},
     {kWire, Numbered(128, 6)}, {kWire, Numbered(93, 6)}, {kWire, Numbered(2, 2, {0, 32768})}, {kWire, Numbered(169, 2)}},
    {{kWire, Numbered(45, 2, {29, 2, 24})}, {kWire, Numbered(83, 2, {23, 59, 0})}, {kWire, Numbered(104, 14)},
     {kWire, Numbered(79, 2, {}, {"SN-1"})}, {kWire, Numbered(146, 12)}, {kWire, Numbered(44, 2, {}, {"gain", "1.5"})},
     {kWire, Numbered(103, 12, {}, {"gain"})}, {kWire, Numbered(205, 2, {3}, {"Cs-137"})}, {kWire, Numbered(206, 10, {3})}},
    {{kControl, "set-counts 16380 1 2 3"}, {kWire, Numbered(187, 514, {16320})}, {kRefused, Numbered(125, 6)},
     {kWire, std::string("\x00\x00\x04\x01", 4) + Numbered(125, 6)}, {kWire, std::string(200, '\x55')},
     {kWire, std::string(100, '\x55') + Numbered(43, 2, {0, 4, 9})}},
    {{kControl, "reg 111 5\nerror 52 131 1\ntext 158 X\nmemory 1000\nreg 200/3 4 5\nerror 111 0 7"},
     {kControl, "request 187 0"}, {kWire, Numbered(52, 2, {3})}, {kWire, Numbered(111, 6)},
     {kControl, "error 52 clear\nmemory 32768\nreg 127 10\ntext 916"}, {kWire, Numbered(241, 2)}, {kWire, Numbered(242, 6)}},
};

struct SeedFamily {
    const char* name;  // the model's
    const std::vector<Script>* scripts;
};
const SeedFamily kFamilies[] = {{"korv", &kKorvScripts}, {"zeph", &kZephScripts}, {"tavo", &kTavoScripts}};

std::string Encode(const Script& script) {
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
    const std::string family = argc == 3 ? argv[1] : "";
    const std::vector<Script>* scripts = nullptr;
    for (const SeedFamily& known : kFamilies) {
        if (family == known.name) scripts = known.scripts;
    }
    if (scripts == nullptr) {
        std::fprintf(stderr, "usage: %s korv|zeph|tavo DIRECTORY\n", argv[0]);
        return 2;
    }
    for (size_t i = 0; i < scripts->size(); ++i) {
        const std::string path = std::string(argv[2]) + "/script" + std::to_string(i);
        const std::string bytes = Encode((*scripts)[i]);
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
            std::perror(path.c_str());
            return 1;
        }
        std::fclose(file);
    }
    std::printf("%zu seeds written to %s\n", scripts->size(), argv[2]);
    return 0;
}
