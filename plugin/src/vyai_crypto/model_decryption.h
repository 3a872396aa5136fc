#pragma once

// Encrypted model files: a 12-byte initialisation vector, the AES-256-GCM ciphertext of the
// model, and the 16-byte authentication tag; no header, no associated data.

namespace vyai {

/**
 * Decrypts the encrypted model at inputPath into a new file at outputPath (replacing any file
 * there), readable by the owner only. key points to 32 raw key bytes. True only when the tag
 * verified and every byte reached the disk; on any failure the output file is removed and the
 * reason logged.
 */
bool decryptModelFile(const unsigned char* key, const char* inputPath, const char* outputPath);

} // namespace vyai
