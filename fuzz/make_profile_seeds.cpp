// Writes the profile fuzzer's seeds: small INI texts of the shapes users
// leave in DETHUB.INI, one file each.
#include <cstdio>
#include <string>
#include <string_view>

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kSeeds[] = {
    "[CONFIG]\r\nCOMMCBS=2\r\nComLib=serial\r\nCOM1=KORV\r\nCOM2=\r\n"sv,
    "; edited by hand\n[M97S01]\nName = \"Det 1\"  \nGain='x'\n\n[CONFIG]\nCOMMCBS = 0x10\n"sv,
    "[CONFIG]\rCOMMCBS=-4294967297\rCOM1\r[open\rk=v"sv,
    "\xEF\xBB\xBF[CONFIG]\r\nCOM1=a=b\r\n[ M97S01 ]\r\nk\0ey=va\0lue\r\n"sv,
    "top=1\r\n[]\r\n=empty\r\n[CONFIG]\r\nComLib=\"\"\r\nCOM3='a'\r\n[config]\r\nCOM1=second\r\n"sv,
    "[CONFIG\r\n]\r\n[[x]]\r\nCOMMCBS=0b101\x1a\r\n\x01\xff\r\n"sv,
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    for (size_t i = 0; i < std::size(kSeeds); ++i) {
        const std::string sPath = std::string(argv[1]) + "/ini" + std::to_string(i);
        FILE* pFile = fopen(sPath.c_str(), "wb");
        if (pFile == nullptr || fwrite(kSeeds[i].data(), 1, kSeeds[i].size(), pFile) != kSeeds[i].size()) {
            perror(sPath.c_str());
            return 1;
        }
        fclose(pFile);
    }
    printf("%zu seeds written to %s\n", std::size(kSeeds), argv[1]);
    return 0;
}
