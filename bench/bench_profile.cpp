// Writing a whole config.ini key by key, as the settings writer does at the first start:
// 21 + 7 + 7 + 200 keys, each write replacing the file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/profile.h"
#include "tests/support/tempdir.h"

namespace {

void WriteAllKeys(quorvel::TIniFile& ini) {
    for (int i = 0; i < 21; ++i) ini.WriteInteger("Defaults", "Key" + std::to_string(i), i);
    for (int g = 1; g <= 2; ++g)
        for (int i = 0; i < 7; ++i)
            ini.WriteFloat("===== Group_" + std::to_string(g) + " =====", "Key" + std::to_string(i),
                           -0.00019);
    for (int n = 1; n <= 200; ++n)
        ini.WriteBool("===== BrokerIDs =====", "BrokerID" + std::to_string(n), n <= 100);
}

void BM_WriteConfig235Keys(benchmark::State& state) {
    const quorvel::test::TempDir dir;
    const std::string path = dir.File("config.ini");
    for (auto _ : state) {
        std::filesystem::remove(path);
        quorvel::TIniFile ini(path);
        WriteAllKeys(ini);
        ini.UpdateFile();
    }
}
BENCHMARK(BM_WriteConfig235Keys)->Unit(benchmark::kMillisecond);

void BM_ReadKeyFrom235(benchmark::State& state) {
    const quorvel::test::TempDir dir;
    const std::string path = dir.File("config.ini");
    {
        quorvel::TIniFile ini(path);
        WriteAllKeys(ini);
    }
    quorvel::TIniFile ini(path);
    for (auto _ : state)
        benchmark::DoNotOptimize(ini.ReadBool("===== BrokerIDs =====", "BrokerID200", false));
}
BENCHMARK(BM_ReadKeyFrom235);

} // namespace

BENCHMARK_MAIN();
