// Packs a few hundred MiB of database-like data with the zip engine and with Info-ZIP "zip -6" in the same run,
// and prints both times and sizes with their ratios.

#include "platform/zipengine/ZipEngine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Records of text and numbers with repeats, roughly as compressible as the products' tables.
void MakeData(const fs::path& dir, std::uint64_t mib) {
    fs::create_directories(dir);
    std::mt19937 gen(42);
    const char* words[] = {"ACME LTD", "invoice", "paid", "open", "Helsinki", "Oslo", "EUR", "SEK", "note", ""};
    const std::uint64_t perFile = 32ull << 20;
    for (int file = 0; mib > 0; ++file) {
        std::uint64_t bytes = std::min<std::uint64_t>(perFile, mib << 20);
        std::ofstream out(dir / ("table" + std::to_string(file) + ".mdb"), std::ios::binary);
        std::string rec;
        for (std::uint64_t written = 0; written < bytes; written += rec.size()) {
            rec = std::to_string(gen() % 1000000) + ';' + words[gen() % 10] + ';' + std::to_string(gen() % 100000) +
                  ';' + words[gen() % 10] + ';' + std::to_string(gen()) + '\n';
            out << rec;
        }
        mib -= bytes >> 20;
    }
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 300;
    const fs::path dir = fs::temp_directory_path() / ("zel-zip-bench-" + std::to_string(::getpid()));
    MakeData(dir / "data", mib);

    zipengine::ZIPUSERFUNCTIONS uf;
    zipengine::ZpInit(&uf);
    zipengine::ZPOPT options;
    options.szRootDir = "/";
    zipengine::ZpSetOptions(&options);
    const std::string ours = (dir / "ours.zip").string();
    const std::string pattern = (dir / "data" / "*.*").string();
    const char* names[] = {"querty", pattern.c_str()};
    auto start = std::chrono::steady_clock::now();
    int result = zipengine::ZpArchive(zipengine::ZCL{2, ours.c_str(), names});
    const double oursTime = Seconds(start);

    const std::string theirs = (dir / "infozip.zip").string();
    const std::string cmd = "cd '" + (dir / "data").string() + "' && zip -6 -q '" + theirs + "' *";
    start = std::chrono::steady_clock::now();
    int zipResult = std::system(cmd.c_str());
    const double theirTime = Seconds(start);

    const double oursSize = static_cast<double>(fs::file_size(ours));
    const double theirSize = static_cast<double>(fs::file_size(theirs));
    std::printf("data: %llu MiB\n", static_cast<unsigned long long>(mib));
    std::printf("zip engine : %6.2f s, %8.1f MiB (result %d)\n", oursTime, oursSize / (1 << 20), result);
    std::printf("Info-ZIP -6: %6.2f s, %8.1f MiB (result %d)\n", theirTime, theirSize / (1 << 20), zipResult);
    std::printf("time ratio (engine / Info-ZIP): %.2f\n", oursTime / theirTime);
    std::printf("size ratio (engine / Info-ZIP): %.3f\n", oursSize / theirSize);
    fs::remove_all(dir);
    return result == 0 && zipResult == 0 ? 0 : 1;
}
