#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// Unpacking a runtime archive in process, in one pass over the package, so that a package
// never runs a child process and is never decompressed twice.

namespace vyai {

/** The declared data of all members together may not exceed this. */
inline constexpr uint64_t kMaxExtractedBytes = uint64_t{32} << 30;

enum class ExtractionOutcome {
    extracted,
    refused, //< a member would reach outside the folder or is of a kind not taken
    failed, //< unreadable, truncated or corrupt archive, or a file that could not be written
    cancelled,
};

struct ExtractionResult_t
{
    ExtractionOutcome outcome = ExtractionOutcome::failed;
    std::string problem; //< what went wrong, naming the member where there is one
};

/** Told the share of the package read so far, 0 to 100, between blocks. */
using ExtractionProgress = std::function<void(unsigned percent)>;

/**
 * Unpacks the tar archive (plain, or compressed with gzip, bzip2, xz or zstd) into `folder`.
 * The members go first into `stagingFolder` (made afresh; on the same file system as
 * `folder`, and outside it when the folder is replaced whole), each checked (entryRefusal) before it is written there; only when the whole
 * archive has unpacked are they renamed into `folder`: with replaceFolder the folder is
 * replaced whole, otherwise each top-level member replaces what has its name there and the
 * rest of the folder stays. What they replace waits in `stagingFolder` + ".displaced" until
 * all are in place, so that a package that fails leaves `folder` as it was; a top-level member
 * named like either of the two folders is refused. Both are gone afterwards in every case. `cancel` is
 * read between blocks. Owners and special permission bits in the archive are not applied.
 */
ExtractionResult_t extractArchive(const std::string& archivePath, const std::string& folder,
    const std::string& stagingFolder, bool replaceFolder, const std::atomic<bool>& cancel,
    const ExtractionProgress& progress);

} // namespace vyai
