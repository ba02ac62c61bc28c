#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace korvel {

// Copies a whole Claude data folder into a new profile's empty data folder. Stateless.
struct DataImporter
{
    static const std::vector<std::string>& lockFiles();
    static bool hasImportableData(const std::filesystem::path& folder);
    static void importData(const std::filesystem::path& from, const std::filesystem::path& to);
};

} // namespace korvel
