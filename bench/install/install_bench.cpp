// Wall time and peak memory of unpacking a runtime package of about 200 MB (compressed):
//  install - the in-process extraction the runtimes manager runs (entry checks, staging
//            folder, rename into place);
//  tar     - `tar -xzf` of the same file into an empty folder, its own and its gzip's memory.
// The goal is install within 1.2 × tar's time with flat memory: the package streams through
// fixed buffers whatever its size. Each time is the least of three rounds, the two taking
// turns, since the machine may be busy with other work.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <archive.h>
#include <archive_entry.h>

#include "provisioning/archive_extraction.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kSegment = size_t{1} << 20;

// Library-like content that gzip shrinks about as much as real shared libraries (to about
// 40%), through the same kind of work on the way back: each MiB is 40% skewed bytes, coded as
// literals (incompressible noise would be stored as is, and inflate for free), and 60% a page
// repeated with a change every 64 bytes, coded as short matches.
class ContentSource
{
public:
    void fill(std::string& segment)
    {
        segment.resize(kSegment);
        const size_t literals = kSegment * 2 / 5;
        for (size_t i = 0; i < literals; ++i)
            segment[i] = static_cast<char>((next() >> 26) + (next() >> 26) * 3);
        std::string page(4096, '\0');
        for (char& c: page)
            c = static_cast<char>(next() >> 24);
        for (size_t i = literals; i < kSegment; ++i)
        {
            segment[i] = page[i % page.size()];
            if ((i & 63) == 0)
                page[next() % page.size()] = static_cast<char>(next() >> 24);
        }
    }

private:
    uint32_t next()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return m_state;
    }
    uint32_t m_state = 2024;
};

void writePackage(const fs::path& path)
{
    const std::vector<std::pair<std::string, size_t>> members = {
        {"RuntimeLibrary.so", 175},
        {"lib/libonnxruntime.so.1.17.0", 100},
        {"lib/libprovider_shared.so", 45},
        {"lib/libcublas_stub.so", 65},
        {"lib/libtensor_kernels.so", 65},
        {"models/readme.txt", 1},
    };
    archive* writer = archive_write_new();
    archive_write_set_format_pax_restricted(writer);
    archive_write_add_filter_gzip(writer);
    archive_write_open_filename(writer, path.c_str());
    ContentSource source;
    std::string segment;
    for (const auto& [name, mebibytes]: members)
    {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.c_str());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0755);
        archive_entry_set_size(entry, static_cast<la_int64_t>(mebibytes * kSegment));
        archive_write_header(writer, entry);
        for (size_t i = 0; i < mebibytes; ++i)
        {
            source.fill(segment);
            archive_write_data(writer, segment.data(), segment.size());
        }
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
}

// Kilobytes, from /proc/self/status.
long statusKilobytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
    {
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::string(field).size());
    }
    return 0;
}

// The peak resident size starts again from the present one.
void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Measure
{
    double seconds = 1e30;
    long peakKilobytes = 0;
};

Measure install(const fs::path& package, const fs::path& folder)
{
    const std::atomic<bool> cancel{false};
    resetPeakMemory();
    const long before = statusKilobytes("VmRSS:");
    const auto start = Clock::now();
    const vyai::ExtractionResult_t result = vyai::extractArchive(
        package.string(), folder.string(), (folder / ".runtime.extracting").string(), false, cancel, {});
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (result.outcome != vyai::ExtractionOutcome::extracted)
    {
        std::fprintf(stderr, "install failed: %s\n", result.problem.c_str());
        std::exit(1);
    }
    return {seconds, statusKilobytes("VmHWM:") - before};
}

Measure tar(const fs::path& package, const fs::path& folder)
{
    fs::create_directories(folder);
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0)
    {
        execlp("tar", "tar", "-xzf", package.c_str(), "-C", folder.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    {
        std::fprintf(stderr, "tar failed\n");
        std::exit(1);
    }
    // The largest of tar and the gzip it runs.
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return {seconds, usage.ru_maxrss};
}

} // namespace

int main()
{
    char pattern[] = "/tmp/bench-install-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const fs::path work(pattern);
    const fs::path package = work / "Generic CPU.tar.gz";
    writePackage(package);
    std::printf("package: %.1f MB compressed\n", double(fs::file_size(package)) / 1e6);

    Measure best[2];
    for (int round = 0; round < 3; ++round)
    {
        for (int which = 0; which < 2; ++which)
        {
            const fs::path folder = work / (which == 0 ? "inference_engine" : "tar");
            const Measure measure = which == 0 ? install(package, folder) : tar(package, folder);
            best[which].seconds = std::min(best[which].seconds, measure.seconds);
            best[which].peakKilobytes = std::max(best[which].peakKilobytes, measure.peakKilobytes);
            fs::remove_all(folder);
        }
    }
    std::printf("install: %.3f s, peak memory +%ld KiB\n", best[0].seconds, best[0].peakKilobytes);
    std::printf("tar -xzf: %.3f s, peak memory %ld KiB (tar and gzip)\n", best[1].seconds, best[1].peakKilobytes);
    std::printf("time ratio install / tar: %.2f (goal <= 1.20)\n", best[0].seconds / best[1].seconds);
    fs::remove_all(work);
    return 0;
}
