#include "spill_streams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// The callback stream hands every byte to its sink in order, and a refusing sink fails the write.
TEST(CallbackStream, PassesBytesInOrderAndReportsARefusedWrite) {
    std::string seen;
    CallbackStream ok([&](const char* data, size_t size) {
        seen.append(data, size);
        return true;
    });
    ASSERT_NE(ok.stream(), nullptr);
    for (int i = 0; i < 5000; ++i) fprintf(ok.stream(), "%d,", i);
    ASSERT_EQ(fflush(ok.stream()), 0);
    std::string expected;
    for (int i = 0; i < 5000; ++i) expected += std::to_string(i) + ",";
    EXPECT_EQ(seen, expected);

    CallbackStream refusing([](const char*, size_t) { return false; });
    ASSERT_NE(refusing.stream(), nullptr);
    fputs("lost", refusing.stream());
    EXPECT_NE(fflush(refusing.stream()), 0);
    EXPECT_TRUE(ferror(refusing.stream()));
}

}  // namespace
