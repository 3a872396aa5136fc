#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include <vy/sdk/i_lib_context.h>

namespace vy::sdk {

/**
 * The library's context: its name (which starts the SDK's print prefixes) and the host's
 * optional registry of live objects. The host sets both once, through vyLibContext(), before
 * it creates any object; the readers therefore take no lock.
 */
class LibContext: public ILibContext
{
public:
    static constexpr const char* kDefaultName = "unnamed_lib_context";
    static constexpr const char* kIncorrectName = "incorrectly_named_lib_context";

    LibContext() = default;
    /** Destroys the registry, if one was set. */
    ~LibContext() override;

    LibContext(const LibContext&) = delete;
    LibContext& operator=(const LibContext&) = delete;

    /** The name may change once from the default; a null or empty name is reported. */
    void setName(const char* name) override;

    /** Takes over the first registry; a later one is reported and neither kept nor destroyed. */
    void setRefCountableRegistry(IRefCountableRegistry* registry) override;

    const std::string& name() const { return m_name; }
    IRefCountableRegistry* refCountableRegistry() const { return m_refCountableRegistry.load(); }

private:
    std::string m_name = kDefaultName;
    // Owned. Atomic so that objects made on any thread read it without a lock.
    std::atomic<IRefCountableRegistry*> m_refCountableRegistry{nullptr};
    // Taken by the two setters only.
    std::mutex m_mutex;
};

/** The library's one context, made on first use; the same object that vyLibContext() returns. */
LibContext& libContext();

/** The options the host passed to vySetUnitTestOptions(). */
std::map<std::string, std::string>& unitTestOptions();

} // namespace vy::sdk
