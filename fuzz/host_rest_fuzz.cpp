// The host's answers to REST requests, as a host hands them over: the whole HTTP response as
// one text. The body taken is the answer itself when it has no head, else the line after the
// head, and nothing when the head names HTTP without a success status; the devices are listed
// exactly when that body is a JSON array; and the devices listed as configured or not are
// devices of that body, in its order: one holding both its models and its pipelines is
// configured, one holding neither is not.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/helpers/string.h>
#include <vy/sdk/i_utility_provider.h>
#include <vy/sdk/result.h>

#include "core/host_rest_client.h"
#include "foundations/json_helpers.h"
#include "fuzz_check.h"

namespace {

// Answers every request at once with the same text, as a host that has it at hand.
class AnsweringHost: public vy::sdk::RefCountable<vy::sdk::IUtilityProvider4>
{
public:
    explicit AnsweringHost(std::string answer): m_answer(std::move(answer)) {}

    vy::sdk::IString* secondText() const override { return nullptr; }
    const char* serverId() const override { return "server"; }
    vy::sdk::IString* cloudSystemId() const override { return nullptr; }
    void httpRequest(int32_t, const char*, const char*, const char*, const char*,
        IHttpRequestCompletionHandler* handler) override
    {
        handler->onRequestCompleted(vy::sdk::newRefCounted<vy::sdk::String>(m_answer).releasePtr());
    }
    const char* cloudToken() const override { return nullptr; }
    vy::sdk::IString* hostDirectory() const override { return nullptr; }

private:
    const std::string m_answer;
};

// Whether an empty line (or one of a lone CR) ends a head; sets the first line and the line
// after the empty one.
bool hasHead(std::string_view answer, std::string_view& firstLine, std::string_view& bodyLine)
{
    firstLine = answer.substr(0, answer.find('\n'));
    size_t emptyLine = std::string_view::npos;
    if (answer.starts_with("\n") || answer.starts_with("\r\n") || answer == "\r")
        emptyLine = 0;
    else
    {
        const size_t candidates[] = {answer.find("\n\n"), answer.find("\n\r\n"),
            answer.ends_with("\n\r") ? answer.size() - 2 : std::string_view::npos};
        const size_t before = *std::min_element(std::begin(candidates), std::end(candidates));
        if (before != std::string_view::npos)
            emptyLine = before + 1;
    }
    if (emptyLine == std::string_view::npos)
        return false;
    const size_t lineEnd = answer.find('\n', emptyLine);
    const std::string_view rest = lineEnd == std::string_view::npos ? std::string_view() : answer.substr(lineEnd + 1);
    bodyLine = rest.substr(0, rest.find('\n'));
    return true;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether a status line, with or without its CRs, says 2xx: "HTTP/<version> 2<digit><digit>",
// then the end or a space and a reason.
bool saysSuccess(std::string_view line)
{
    while (line.ends_with('\r'))
        line.remove_suffix(1);
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4)
        return false;
    const std::string_view code = line.substr(space + 1, 3);
    return code[0] == '2' && isDigit(code[1]) && isDigit(code[2])
        && (line.size() == space + 4 || line[space + 4] == ' ');
}

enum class Configuration { both, neither, partly };

// The body's devices with a text id and a "vyAI" value, by id; ids seen twice are left out.
// None when the body is no JSON array.
std::optional<std::map<std::string, Configuration>> devicesOf(const std::string& body, std::vector<std::string>& order)
{
    const vyai::JsonDocument doc = vyai::readJsonDocument(body);
    yyjson_val* root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_arr(root))
        return std::nullopt;
    std::map<std::string, Configuration> devices;
    std::map<std::string, int> seen;
    for (size_t i = 0; i < yyjson_arr_size(root); ++i)
    {
        yyjson_val* device = yyjson_arr_get(root, i);
        const char* id = yyjson_get_str(yyjson_obj_get(device, "id"));
        yyjson_val* parameters = yyjson_obj_get(device, "parameters");
        yyjson_val* vyAI = yyjson_is_obj(parameters) ? yyjson_obj_get(parameters, "vyAI") : nullptr;
        if (!id)
            continue;
        order.emplace_back(id);
        if (!vyAI || ++seen[id] > 1)
        {
            devices.erase(id);
            continue;
        }
        const bool models = yyjson_obj_get(vyAI, "models") != nullptr;
        const bool pipelines = yyjson_obj_get(vyAI, "pipelines") != nullptr;
        devices[id] = models && pipelines ? Configuration::both
            : !models && !pipelines       ? Configuration::neither
                                          : Configuration::partly;
    }
    return devices;
}

bool inOrder(const std::vector<std::string>& listed, const std::vector<std::string>& order)
{
    auto next = order.begin();
    for (const std::string& id: listed)
    {
        next = std::find(next, order.end(), id);
        if (next == order.end())
            return false;
        ++next;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The host hands over a C text: it ends at the first NUL.
    const std::string answer(reinterpret_cast<const char*>(data), std::find(data, data + size, 0) - data);
    const vyai::UtilityProviderPtr host = vy::sdk::newRefCounted<AnsweringHost>(answer);

    const std::string body = vyai::doRequest("/rest/v4/devices", "GET", "", "", host);
    std::string_view firstLine;
    std::string_view bodyLine;
    if (!hasHead(answer, firstLine, bodyLine))
    {
        FUZZ_CHECK(body == answer, "an answer without a head is all body");
    }
    else
    {
        const bool failed = firstLine.starts_with("HTTP/") && !saysSuccess(firstLine);
        FUZZ_CHECK(body == (failed ? std::string_view() : bodyLine),
            "the body is the line after the head, unless the head names HTTP without a success status");
    }

    std::vector<std::string> order;
    const auto devices = devicesOf(body, order);
    const auto configured = vyai::listConfiguredDevices(host);
    const auto unconfigured = vyai::listUnconfiguredDevices(host);
    FUZZ_CHECK(configured.has_value() == devices.has_value() && unconfigured.has_value() == devices.has_value(),
        "a list, even an empty one, comes exactly when the body is a JSON array");
    if (!devices)
        return 0;
    FUZZ_CHECK(inOrder(*configured, order) && inOrder(*unconfigured, order), "devices are listed in the body's order");
    for (const auto& [id, configuration]: *devices)
    {
        const bool isConfigured = std::find(configured->begin(), configured->end(), id) != configured->end();
        const bool isUnconfigured = std::find(unconfigured->begin(), unconfigured->end(), id) != unconfigured->end();
        if (configuration == Configuration::both)
            FUZZ_CHECK(isConfigured && !isUnconfigured, "a device with models and pipelines is configured");
        if (configuration == Configuration::neither)
            FUZZ_CHECK(!isConfigured && isUnconfigured, "a device with neither is not configured");
    }
    return 0;
}
