#pragma once

#include <string>

namespace vyai {

/**
 * True when every member of the tar archive stays inside the folder it is unpacked into:
 * regular files, folders and links with relative names and targets that hold no ".." part.
 * Absolute names, "..", devices and pipes are refused; problem then names the member.
 */
bool isArchiveSafeToExtract(const std::string& archivePath, std::string& problem);

} // namespace vyai
