#include <gtest/gtest.h>

#include <cstring>

#include "base/StepRecord.h"

using namespace zelvox;

TEST(PatternStoreLayout, RecordAddressRule) {
    static PatternStore store;
    const auto* base = reinterpret_cast<const char*>(&store);
    for (int p = 0; p < 17; ++p)
        for (int s = 1; s <= 16; ++s)
            EXPECT_EQ(reinterpret_cast<const char*>(&store.Step(p, s)) - base, (p * 16 + s - 1) * 100);
}
