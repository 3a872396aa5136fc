#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_string_map.h>

namespace vy::sdk {

/**
 * Items ordered by key (byte-wise); index i is the i-th item in that order. Filled by one
 * thread before it is handed over, then only read. Texts returned stay valid until the next
 * setItem() or the end of the object.
 */
class StringMap: public RefCountable<IStringMap>
{
public:
    /** Inserts or replaces; an empty key is reported and stored all the same. */
    void setItem(std::string key, std::string value);

    int32_t count() const override;
    const char* key(int32_t index) const override;
    const char* value(const char* key) const override;
    const char* value(int32_t index) const override;

private:
    const char* indexedText(int32_t index, bool wantKey) const;

    // Transparent comparison: lookups by C text need no temporary string.
    std::map<std::string, std::string, std::less<>> m_items;

    // Key and value texts of each item in key order, built at the first index access after
    // a change. The host may read one map from several threads, so the build is guarded.
    mutable std::mutex m_indexMutex;
    mutable std::vector<const char*> m_index;
};

} // namespace vy::sdk
