#include "relay/CDataQueue.h"

#include <gtest/gtest.h>

TEST(DataQueue, Placeholder) { CDataQueue q; std::unique_ptr<uint8_t[]> d; EXPECT_EQ(q.Get(0, d), -1); }
