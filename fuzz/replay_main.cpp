// Runs a fuzz target's LLVMFuzzerTestOneInput on files, for builds without
// libFuzzer (g++, the sanitizer build): each argument is a file or a folder
// whose files are run in name order. A crash or sanitizer report fails the
// run; a missing folder is only noted.
//
//   replay_<target> DIR_OR_FILE...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

namespace {

bool run_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    // An exact-size heap copy, as libFuzzer gives it, so reads past the end are caught.
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    int files = 0;
    for (int i = 1; i < argc; i++) {
        const fs::path arg(argv[i]);
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            std::vector<fs::path> paths;
            for (const auto &entry : fs::directory_iterator(arg, ec))
                if (entry.is_regular_file())
                    paths.push_back(entry.path());
            std::sort(paths.begin(), paths.end());
            for (const auto &p : paths)
                files += run_file(p) ? 1 : 0;
        } else if (fs::is_regular_file(arg, ec)) {
            if (!run_file(arg)) {
                std::fprintf(stderr, "cannot read %s\n", argv[i]);
                return 1;
            }
            files++;
        } else {
            std::fprintf(stderr, "%s: not there, skipped\n", argv[i]);
        }
    }
    std::printf("%d inputs ran\n", files);
    return 0;
}
