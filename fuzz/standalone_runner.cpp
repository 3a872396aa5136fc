// Runs a fuzz target's entry point once on every file of the folders (or files) named on the
// command line, in name order, so that a target's seeds are replayed by any compiler. A
// property the target checks aborts the run; a named folder without files fails it, since a
// replay of nothing would pass whatever the target had become.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsOf(const fs::path& named)
{
    std::error_code error;
    if (!fs::exists(named, error))
        return {};
    if (!fs::is_directory(named, error))
        return {named};
    std::vector<fs::path> files;
    for (fs::directory_iterator it(named, error); !error && it != fs::directory_iterator(); it.increment(error))
    {
        if (it->is_regular_file(error))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool replay(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
    // A copy of exactly the input's size, so that a read past its end is seen by a sanitizer;
    // never null, as a fuzzer gives it.
    const auto input = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), input.get());
    LLVMFuzzerTestOneInput(input.get(), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: %s <seed folder or file>...\n", argv[0]);
        return 2;
    }
    for (int i = 1; i < argc; ++i)
    {
        const std::vector<fs::path> files = inputsOf(argv[i]);
        if (files.empty())
        {
            std::fprintf(stderr, "%s holds no input to replay\n", argv[i]);
            return 1;
        }
        for (const fs::path& file: files)
        {
            if (!replay(file))
            {
                std::fprintf(stderr, "%s cannot be read\n", file.c_str());
                return 1;
            }
        }
        std::fprintf(stderr, "%zu inputs of %s replayed\n", files.size(), argv[i]);
    }
    return 0;
}
