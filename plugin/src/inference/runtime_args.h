#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "inference/runtime_interface.h"

namespace vyai {

/**
 * Reads the optional "runtime_args.json" of the runtime's working directory: every member
 * of its top-level object whose value is a string becomes one key/value pair, in file
 * order. A missing, empty, unparsable or non-object file leaves both lists empty (with a
 * log line); other values, and keys or values holding a NUL, are skipped with a warning. An error while testing for the file
 * other than its absence is thrown as std::filesystem::filesystem_error.
 */
void readRuntimeArgs(const std::filesystem::path& workingDirectory, std::vector<std::string>& keys,
    std::vector<std::string>& values);

/**
 * The argument record of runtime_init over key and value texts. Borrows the texts: both
 * lists must outlive the view and stay unchanged while it is used.
 */
class RuntimeArgsView
{
public:
    RuntimeArgsView(const std::vector<std::string>& keys, const std::vector<std::string>& values);
    // The texts would die before the view.
    RuntimeArgsView(std::vector<std::string>&& keys, const std::vector<std::string>& values) = delete;
    RuntimeArgsView(const std::vector<std::string>& keys, std::vector<std::string>&& values) = delete;
    RuntimeArgsView(std::vector<std::string>&& keys, std::vector<std::string>&& values) = delete;

    RuntimeArgsView(const RuntimeArgsView&) = delete;
    RuntimeArgsView& operator=(const RuntimeArgsView&) = delete;

    /** Valid while this view lives. */
    RuntimeArgs_t args() const;

private:
    std::vector<const char*> m_keys;
    std::vector<const char*> m_values;
};

} // namespace vyai
