// Runs a fuzz target without a fuzzing engine: every file named on the command line, and every
// file under every directory named (recursively, in path order), goes once through
// LLVMFuzzerTestOneInput. A directory that does not exist is passed over, since a target may
// have no past crash files yet; replaying nothing at all is a failure, so that a corpus that
// went missing does not pass unnoticed. A fault in the target ends the program the way the
// fault does (abort, sanitizer report), after the file's name was printed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Optional, as with the engine: one-time set-up before the first input.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {
namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const fs::path& place) {
    std::vector<fs::path> files;
    std::error_code error;
    if (fs::is_regular_file(place, error)) {
        files.push_back(place);
    } else if (fs::is_directory(place, error)) {
        for (const auto& entry : fs::recursive_directory_iterator(place, error))
            if (entry.is_regular_file(error))
                files.push_back(entry.path());
    } else {
        std::fprintf(stderr, "replay: %s does not exist, passed over\n", place.c_str());
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool Replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
    // The engine never hands over a null pointer, not even for an empty input.
    static const std::uint8_t kNoBytes = 0;
    const auto* data = bytes.empty() ? &kNoBytes : reinterpret_cast<const std::uint8_t*>(bytes.data());
    LLVMFuzzerTestOneInput(data, bytes.size());
    return true;
}
} // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::size_t replayed = 0;
    bool readable = true;
    for (int i = 1; i < argc; ++i)
        for (const fs::path& file : InputsOf(argv[i])) {
            readable = Replay(file) && readable;
            ++replayed;
        }
    std::fprintf(stderr, "replay: %zu inputs\n", replayed);
    if (replayed == 0) {
        std::fprintf(stderr, "replay: no input found\n");
        return 1;
    }
    return readable ? 0 : 1;
}
