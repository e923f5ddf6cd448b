// Runs a fuzz target without libFuzzer: its LLVMFuzzerTestOneInput over every
// file named on the command line, and over every file in each directory
// named there (sorted by name, not recursing). A crash file thus replays as a
// plain test under the sanitizers of the ordinary build. A property that a
// target checks aborts the program; a path that cannot be read fails it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool Replay(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    // The bytes go over in a block of their own size, as libFuzzer hands them.
    uint8_t* data = new uint8_t[bytes.size()];
    std::copy(bytes.begin(), bytes.end(), data);
    fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(data, bytes.size());
    delete[] data;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE-OR-DIRECTORY...\n", argv[0]);
        return 2;
    }
    bool ok = true;
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(path, error))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            if (error) {
                fprintf(stderr, "replay: cannot list %s\n", argv[i]);
                ok = false;
            }
            std::sort(files.begin(), files.end());
            for (const auto& file : files) {
                ok = Replay(file) && ok;
                ++replayed;
            }
        } else {
            ok = Replay(path) && ok;
            ++replayed;
        }
    }
    fprintf(stderr, "replay: %d inputs\n", replayed);
    return ok ? 0 : 1;
}
