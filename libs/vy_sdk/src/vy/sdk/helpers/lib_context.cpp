#include "vy/sdk/helpers/lib_context.h"

#include <vy/kit/utils.h>
#include <vy/sdk/helpers/failure_report.h>

namespace vy::sdk {

namespace {

constexpr const char* kPrintPrefix = "[vy::sdk::LibContext] ";

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
            detail::reportFailureWithPrefix(kPrintPrefix,
                "m_name == kDefaultName || m_name == std::string(name)", __FILE__, __LINE__,
                message);
            return;
        }

        if (name == nullptr)
        {
            detail::reportFailureWithPrefix(kPrintPrefix, "name", __FILE__, __LINE__);
            m_name = kIncorrectName;
        }
        else if (name[0] == '\0')
        {
            detail::reportFailureWithPrefix(kPrintPrefix, "name[0] != '\\0'", __FILE__, __LINE__);
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
            detail::reportFailureWithPrefix(kPrintPrefix, "!m_refCountableRegistry", __FILE__,
                __LINE__, "LibContext refCountableRegistry has already been set.");
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
