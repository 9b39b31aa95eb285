// Look-up by id.
#include "platform/dialog/string_table.h"

namespace platform {

std::optional<std::wstring> StringTable::Load(unsigned id) const
{
    const auto it = m_entries.find(id);
    if (it == m_entries.end())
        return std::nullopt;
    return it->second;
}

} // namespace platform
