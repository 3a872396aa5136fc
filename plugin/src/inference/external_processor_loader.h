#pragma once

#include <map>
#include <string>

#include "inference/external_processor_declarations.h"

namespace vyai {

using ExternalPreprocessorMap = std::map<std::string, ExternalPreprocessor_t>;
using ExternalPostprocessorMap = std::map<std::string, ExternalPostprocessor_t>;

/**
 * Reads root/"preprocessors"/"external_preprocessors.json", starts one process per valid
 * declaration and keeps the started ones by name. Blocks while the children start (up to a
 * few seconds each). Programs are started with an argument list, never through a shell.
 */
void loadExternalPreprocessors(const std::string& rootFolder, ExternalPreprocessorMap& processors);

/** The same for root/"postprocessors"/"external_postprocessors.json", with "Config" arguments. */
void loadExternalPostprocessors(const std::string& rootFolder, ExternalPostprocessorMap& processors);

} // namespace vyai
