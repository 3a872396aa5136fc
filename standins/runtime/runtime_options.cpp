#include "runtime_options.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "last_error.h"

namespace cpu_runtime {

namespace {

template<typename Number>
bool parseNumber(std::string_view text, Number& number)
{
    const char* end = text.data() + text.size();
    const auto [rest, error] = std::from_chars(text.data(), end, number);
    return error == std::errc() && rest == end && !text.empty();
}

std::optional<FaultPoint> parseFaultPoint(std::string_view text)
{
    static constexpr struct {
        std::string_view name;
        FaultPoint point;
    } kPoints[] = {
        {"init", FaultPoint::Init},
        {"load_models", FaultPoint::LoadModels},
        {"enqueue", FaultPoint::Enqueue},
        {"retrieve", FaultPoint::Retrieve},
        {"cleanup", FaultPoint::Cleanup},
        {"stall", FaultPoint::Stall},
        {"bad_output_id", FaultPoint::BadOutputId},
        {"duplicate_output", FaultPoint::DuplicateOutput},
    };
    for (const auto& entry: kPoints) {
        if (entry.name == text)
            return entry.point;
    }
    return std::nullopt;
}

} // namespace

std::optional<RuntimeOptions> parseRuntimeOptions(const RuntimeArgs_t& args)
{
    RuntimeOptions options;
    for (int32_t i = 0; i < args.count; ++i) {
        const char* key = args.keys ? args.keys[i] : nullptr;
        const char* value = args.values ? args.values[i] : nullptr;
        if (!key || !value) {
            fail(1, "Runtime argument %d is null.", i);
            return std::nullopt;
        }
        bool valid = true;
        if (std::strcmp(key, "latency_ms") == 0) {
            valid = parseNumber(value, options.latencyMs);
        } else if (std::strcmp(key, "fault_after") == 0) {
            valid = parseNumber(value, options.faultAfter);
        } else if (std::strcmp(key, "fault") == 0) {
            const std::optional<FaultPoint> point = parseFaultPoint(value);
            valid = point.has_value();
            if (point)
                options.fault = *point;
        }
        if (!valid) {
            fail(1, "Invalid value for runtime argument %s: \"%s\".", key, value);
            return std::nullopt;
        }
    }
    return options;
}

} // namespace cpu_runtime
