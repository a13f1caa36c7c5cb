// Cost of reading settings: a 1 MB DETHUB.INI of 20,000 keys in 100
// sections, read whole after each change and looked up key by key while it
// stays the same. Linux only: the file is put where LINKBAY_WINDIR says.
// Prints figures only.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace {

constexpr int kSections = 100;
constexpr int kKeysPerSection = 200;
constexpr const char* kFile = "DETHUB.INI";

std::string g_sPath;

std::string SectionName(int nSection) { return "M" + std::to_string(97 + nSection / 10) + "S0" + std::to_string(nSection % 10); }
std::string KeyName(int nKey) { return "DataApplicationValue" + std::to_string(nKey); }

// About 1 MB: 20,000 lines of some 50 bytes.
void WriteSettingsFile() {
    char szTemplate[] = "/tmp/profile_bench.XXXXXX";
    const char* pszDir = mkdtemp(szTemplate);
    if (pszDir == nullptr) std::abort();
    setenv("LINKBAY_WINDIR", pszDir, 1);
    g_sPath = std::string(pszDir) + "/" + kFile;
    std::ofstream out(g_sPath, std::ios::binary);
    for (int s = 0; s < kSections; ++s) {
        out << "[" << SectionName(s) << "]\r\n";
        for (int k = 0; k < kKeysPerSection; ++k) out << KeyName(k) << " = value of key " << k << ", 0x1234\r\n";
    }
    out.close();
    struct stat info {};
    stat(g_sPath.c_str(), &info);
    std::printf("%s: %lld bytes, %d keys\n", g_sPath.c_str(), static_cast<long long>(info.st_size),
                kSections * kKeysPerSection);
}

// Each version gets a time of its own, well in the past as a settings file's is.
void SetModificationTime(long nSecondsAgo) {
    const timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - nSecondsAgo, 0}};
    utimensat(AT_FDCWD, g_sPath.c_str(), times, 0);
}

char g_szValue[64];

void Lookup(int nSection, int nKey) {
    GetPrivateProfileStringA(SectionName(nSection).c_str(), KeyName(nKey).c_str(), "", g_szValue, sizeof g_szValue,
                             kFile);
}

// The whole file read and indexed: every iteration sees a new version.
void BM_FullReadAfterChange(benchmark::State& state) {
    long nAgo = 100000;
    for (auto _ : state) {
        SetModificationTime(nAgo++);
        Lookup(kSections - 1, kKeysPerSection - 1);
        benchmark::DoNotOptimize(g_szValue);
    }
}
BENCHMARK(BM_FullReadAfterChange)->Unit(benchmark::kMillisecond);

// One key of an unchanged file, spread over every section and position.
void BM_LookupUnchanged(benchmark::State& state) {
    SetModificationTime(10);
    int n = 0;
    for (auto _ : state) {
        n = (n + 7919) % (kSections * kKeysPerSection);
        Lookup(n / kKeysPerSection, n % kKeysPerSection);
        benchmark::DoNotOptimize(g_szValue);
    }
}
BENCHMARK(BM_LookupUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    WriteSettingsFile();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    unlink(g_sPath.c_str());
    rmdir(g_sPath.substr(0, g_sPath.rfind('/')).c_str());
    return 0;
}
