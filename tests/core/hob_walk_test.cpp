#include "core/hob_walk.h"

#include <gtest/gtest.h>

TEST(HobWalkSmoke, EmptyListPointerGivesNoBase) { EXPECT_EQ(FindTraceHubBase(nullptr), 0u); }
