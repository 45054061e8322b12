#include "assets/stored_data.hpp"
#include "music/music.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>

namespace {

// Ten bytes 1..10, allocated at exactly that size so that any access past
// them trips the address sanitizer.
struct Block {
    std::unique_ptr<unsigned char[]> bytes{new unsigned char[10]{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}};
    void* handle = nullptr;
    Block()
    {
        EXPECT_TRUE(memRegister(bytes.get(), bytes.get(), 10));
        handle = memOpen(reinterpret_cast<const char*>(bytes.get()));
    }
    ~Block() { memClose(handle); }
};

TEST(MemoryStream, ReadsStopAtTheEndAndWriteNothingPastWhatWasRead)
{
    Block block;
    ASSERT_NE(block.handle, nullptr);
    unsigned char buffer[16] = {};
    EXPECT_EQ(memRead(buffer, 4, block.handle), 4);
    EXPECT_EQ(buffer[3], 4);
    ASSERT_NE(memSeek(block.handle, 8, 0), 0);
    std::fill(std::begin(buffer), std::end(buffer), 0xee);
    EXPECT_EQ(memRead(buffer, 16, block.handle), 2);
    EXPECT_EQ(buffer[1], 10);
    EXPECT_EQ(buffer[2], 0xee);
    EXPECT_EQ(memTell(block.handle), 10);
    EXPECT_EQ(memRead(buffer, 16, block.handle), 0) << "at the end";
    EXPECT_EQ(memRead(buffer, -5, block.handle), 0);
}

TEST(MemoryStream, SeeksOutsideTheBlockFailAndKeepThePosition)
{
    Block block;
    ASSERT_NE(memSeek(block.handle, 3, 0), 0);
    EXPECT_EQ(memSeek(block.handle, 11, 0), 0);
    EXPECT_EQ(memSeek(block.handle, 1, 2), 0);
    EXPECT_EQ(memSeek(block.handle, -4, 1), 0);
    EXPECT_EQ(memSeek(block.handle, 0x7fffffff, 1), 0) << "no overflow past the end";
    EXPECT_EQ(memSeek(block.handle, 0, 3), 0) << "unknown mode";
    EXPECT_EQ(memTell(block.handle), 3);
    EXPECT_NE(memSeek(block.handle, 0, 2), 0) << "the very end is a valid position";
    EXPECT_NE(memSeek(block.handle, -3, 1), 0);
    EXPECT_EQ(memTell(block.handle), 7);
}

TEST(MemoryStream, OnlyBlocksOfKnownLengthOpen)
{
    static const unsigned char unknown[4] = {};
    EXPECT_EQ(memOpen(reinterpret_cast<const char*>(unknown)), nullptr);
    EXPECT_EQ(memOpen(nullptr), nullptr);
    void* soundtrack = memOpen(reinterpret_cast<const char*>(soundtrackModule));
    ASSERT_NE(memSeek(soundtrack, 0, 2), 0);
    EXPECT_EQ(memTell(soundtrack), static_cast<int>(soundtrackModuleSize));
    memClose(soundtrack);
}

} // namespace
