#include "vy/sdk/helpers/lib_context.h"

#include <vy/kit/debug.h>
#include <vy/kit/utils.h>

namespace vy::sdk {

namespace {

void reportFailure(const char* condition, const std::string& message, int line)
{
    kit::debug::detail::assertionFailed(
        kit::debug::detail::prefixedPrint("[vy::sdk::LibContext] "),
        condition, message, __FILE__, line);
}

} // namespace

LibContext::~LibContext()
{
    delete m_refCountableRegistry.exchange(nullptr);
}

void LibContext::setName(const char* name)
{
    try
    {
        const std::lock_guard lock(m_mutex);

        // Once named, only the same name is accepted; a null name never equals a set one
        // (comparing would build a std::string from null).
        if (m_name != kDefaultName && (name == nullptr || m_name != name))
        {
            const std::string message = "Attempt to change LibContext name from "
                + kit::utils::toString(m_name) + " to " + kit::utils::toString(name) + ".";
            reportFailure("m_name == kDefaultName || m_name == std::string(name)", message,
                __LINE__);
            return;
        }

        if (name == nullptr)
        {
            reportFailure("name", "", __LINE__);
            m_name = kIncorrectName;
        }
        else if (name[0] == '\0')
        {
            reportFailure("name[0] != '\\0'", "", __LINE__);
            m_name = kIncorrectName;
        }
        else
        {
            m_name = name;
        }
    }
    catch (...)
    {
        // Called by the host: nothing may escape. Only allocation can fail here.
    }
}

void LibContext::setRefCountableRegistry(IRefCountableRegistry* registry)
{
    try
    {
        const std::lock_guard lock(m_mutex);
        if (m_refCountableRegistry.load())
        {
            reportFailure("!m_refCountableRegistry",
                "LibContext refCountableRegistry has already been set.", __LINE__);
            return;
        }
        m_refCountableRegistry.store(registry);
    }
    catch (...)
    {
        // Called by the host: nothing may escape. Only the report can fail here.
    }
}

LibContext& libContext()
{
    static LibContext context;
    return context;
}

std::map<std::string, std::string>& unitTestOptions()
{
    static std::map<std::string, std::string> options;
    return options;
}

} // namespace vy::sdk
