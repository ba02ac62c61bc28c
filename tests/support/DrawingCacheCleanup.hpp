#pragma once

#include <gtest/gtest.h>

namespace korvel::test {

// cairo and fontconfig keep their font caches for the life of the process, and LeakSanitizer reports them.
// A test program that draws text registers this once to release them after its last test:
//   [[maybe_unused]] const auto* cleanup = ::testing::AddGlobalTestEnvironment(new DrawingCacheCleanup);
class DrawingCacheCleanup : public ::testing::Environment
{
public:
    void TearDown() override;
};

} // namespace korvel::test
