#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

// Fetching one file over HTTP(S) with its progress shown to the user.

namespace vyai {

class MessagingManager;

/** Bodies above this are refused: no runtime package comes near it. */
inline constexpr uint64_t kMaxDownloadBytes = uint64_t{8} << 30;

/**
 * Large files have no deadline, however long they take, as long as they move: a download
 * ends when fewer than kMinimumDownloadRate bytes a second arrive over a whole window.
 */
inline constexpr uint64_t kMinimumDownloadRate = 1024;
inline constexpr std::chrono::milliseconds kDownloadRateWindow{60'000};

/**
 * Downloads url to filePath while the message store shows the progress under messageCode
 * (messageText, then the percentage or the bytes so far). The body goes to filePath + ".part"
 * and replaces filePath only once it is whole and as long as the server declared; a file
 * already at filePath is left alone on every failure. Redirects are followed, never from https
 * to plain http; a download slower than the minimum rate ends. cancelFlag, when given, is read while
 * waiting for the server and ends the download. checksumOut, when given, receives the
 * "X-Checksum-Md5" header (empty when absent). True when the file is in place.
 */
bool downloadFile(const std::string& url, const std::string& filePath, MessagingManager& messages,
    const std::string& messageCode, const std::string& messageText,
    const std::atomic<bool>* cancelFlag, std::string* checksumOut);

/** The part of a model download URL after its last "/"; empty, with a warning, when none. */
std::string modelFileNameFromUrl(const std::string& url);

} // namespace vyai
