// Runs a fuzz target over the files of its seed corpus, for builds without libFuzzer; with
// "--random N [SEED]", over N inputs of up to 512 pseudo-random bytes (the same ones for the
// same seed, 1 unless given).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    long files = 0;
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--random") == 0) {
        std::mt19937_64 random(argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1);
        std::string bytes;
        for (long n = std::atol(argv[2]); files < n; ++files) {
            bytes.resize(random() % 513);
            for (char& c : bytes)
                c = static_cast<char>(random());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
        }
        argc = 0;
    }
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i])) {
            if (!entry.is_regular_file())
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
            ++files;
        }
    }
    std::printf("%ld inputs\n", files);
    return files > 0 ? 0 : 1;
}
