// String-table resources: texts a program loads by numeric id.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace platform {

class StringTable {
public:
    StringTable() = default;
    StringTable(std::initializer_list<std::pair<const unsigned, std::wstring>> entries) : m_entries(entries) {}

    // Nothing when the table has no such id.
    std::optional<std::wstring> Load(unsigned id) const;

private:
    std::map<unsigned, std::wstring> m_entries;
};

} // namespace platform
