#pragma once

#include "core/support/FileState.hpp"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace korvel {

// Remembers what was computed from a file for as long as the file stays the same, so that checks run for every
// profile read a big or slow file once. Safe to share between threads; meant to be a function's static.
template<typename Value>
class FileMemo
{
public:
    // The value computed from `file` by `compute` (returning std::optional<Value>), remembered by the file's state
    // and `question` (what was asked of the file, when that varies).
    template<typename Compute>
    std::optional<Value> get(const std::filesystem::path& file, Compute&& compute, std::string_view question = {})
    {
        const std::string key = file.string() + '\0' + std::string(question);
        const auto before = FileState::of(file);
        if (!before)
            return std::nullopt;
        {
            const std::lock_guard lock(m_mutex);
            const auto it = m_memo.find(key);
            if (it != m_memo.end() && it->second.first == *before)
                return it->second.second;
        }
        std::optional<Value> value = compute();
        // Only remember what was read from a file that did not change meanwhile.
        if (value && FileState::of(file) == before) {
            const std::lock_guard lock(m_mutex);
            m_memo.insert_or_assign(key, std::pair {*before, *value});
        }
        return value;
    }

private:
    std::mutex m_mutex;
    std::map<std::string, std::pair<FileState, Value>> m_memo;
};

} // namespace korvel
