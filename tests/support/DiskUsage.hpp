#pragma once

#include "tests/support/ChildProcess.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace korvel::test {

// What `du -sb` counts in `folder`: the independent measure of a folder's size.
inline std::uintmax_t duBytes(const std::filesystem::path& folder)
{
    const auto du = ChildProcess::run("/usr/bin/du", {{"du", "-sb", folder.string()}});
    EXPECT_EQ(du.exitStatus, 0) << du.standardError;
    return std::stoull(du.standardOutput);
}

} // namespace korvel::test
