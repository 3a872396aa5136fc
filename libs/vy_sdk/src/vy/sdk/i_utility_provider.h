#pragma once

#include <cstdint>

#include <vy/sdk/i_string.h>
#include <vy/sdk/interface.h>
#include <vy/sdk/result.h>

namespace vy::sdk {

/**
 * The host's service object, attached to the integration. The plug-in uses six of its
 * operations; the slots in between are the host's and are declared only to keep the layout.
 * Any operation may be called from any thread while the plug-in holds a reference.
 */
class IUtilityProvider4: public Interface<IUtilityProvider4>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IUtilityProvider4"};

    /** Receives the answer of one httpRequest(). */
    class IHttpRequestCompletionHandler: public Interface<IHttpRequestCompletionHandler>
    {
    public:
        static constexpr const char* kInterfaceIds[] = {"vy::sdk::IHttpRequestCompletionHandler"};

        /**
         * Called once per request, on a thread of the host's choosing. On success the value is
         * the whole HTTP response as text (status line, header lines, an empty line, the body);
         * otherwise the error carries a code and a message. The strings' references pass to
         * the handler.
         */
        virtual void onRequestCompleted(Result<IString*> result) = 0;
    };

    /** Domain code of httpRequest() for the host's own REST interface. */
    static constexpr int32_t kHostRestDomain = 1;

    virtual void reservedSlot4() {}

    /** A host text with one reference for the caller, handed on unchanged to inference. */
    virtual IString* secondText() const = 0;

    virtual void reservedSlot6() {}

    /** This server's id; owned by the host, copy it at once. */
    virtual const char* serverId() const = 0;

    /** The site's cloud system id with one reference for the caller; null (or empty) when none. */
    virtual IString* cloudSystemId() const = 0;

    virtual void reservedSlot9() {}

    /**
     * Performs a request and returns at once; the answer arrives through `handler`, which the
     * host keeps a reference to until it has called it.
     */
    virtual void httpRequest(int32_t domain, const char* path, const char* method,
        const char* mimeType, const char* body, IHttpRequestCompletionHandler* handler) = 0;

    /** The cloud authorization token, or null; owned by the host, copy it at once. */
    virtual const char* cloudToken() const = 0;

    virtual void reservedSlot12() {}
    virtual void reservedSlot13() {}

    /** The directory under which the plug-in keeps its files, with one reference for the caller. */
    virtual IString* hostDirectory() const = 0;
};

} // namespace vy::sdk
