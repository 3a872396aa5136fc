#pragma once

#include <string>
#include <vector>

#include "host/scenario.h"

namespace vyhost {

/** The text with each "{vyprocessor}" and "{host}" replaced; `inJson`: as JSON string content. */
std::string withProcessorPlaceholders(std::string text, const std::string& hostDirectory, bool inJson);

enum class ProcessorKind { pre, post };

/**
 * Writes the external processors' declarations where the plug-in reads them when its engine
 * starts: <host directory>/vy_veltrin/preprocessors/external_preprocessors.json (or
 * postprocessors/external_postprocessors.json), and next to it a launcher per declaration with
 * arguments. Empty on success, else what went wrong.
 */
std::string writeProcessorDeclarations(const std::vector<ProcessorDeclaration>& declarations,
    const std::string& hostDirectory, ProcessorKind kind);

/** The pre-processors' declarations. */
std::string writePreprocessorDeclarations(
    const std::vector<ProcessorDeclaration>& declarations, const std::string& hostDirectory);

/** The raw-output decoding configuration: <host directory>/vy_veltrin/raw_postprocessing.json. */
std::string writeRawPostprocessing(const std::string& text, const std::string& hostDirectory);

} // namespace vyhost
