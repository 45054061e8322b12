#include "driver/stored_data.hpp"
#include "music/music.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>

namespace {

// A block allocated at exactly its size, so that any read past it trips the
// address sanitizer.
struct Block {
    std::unique_ptr<unsigned char[]> bytes;
    void* handle = nullptr;

    explicit Block(int size) : bytes(new unsigned char[static_cast<std::size_t>(size)])
    {
        for (int i = 0; i < size; ++i)
            bytes[i] = static_cast<unsigned char>(i + 1);
        EXPECT_TRUE(memRegister(bytes.get(), bytes.get(), static_cast<std::size_t>(size)));
        handle = memOpen(reinterpret_cast<const char*>(bytes.get()));
    }
    ~Block() { memClose(handle); }
};

TEST(MemoryStream, ReadsStopAtTheEndOfTheBlock)
{
    Block block(10);
    ASSERT_NE(block.handle, nullptr);
    unsigned char buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), 0xee);

    EXPECT_EQ(memRead(buffer, 4, block.handle), 4);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[3], 4);
    EXPECT_EQ(memTell(block.handle), 4);

    ASSERT_NE(memSeek(block.handle, 8, 0), 0);
    std::fill(std::begin(buffer), std::end(buffer), 0xee);
    EXPECT_EQ(memRead(buffer, 16, block.handle), 2);
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(buffer[1], 10);
    EXPECT_EQ(buffer[2], 0xee) << "nothing is written past what was read";
    EXPECT_EQ(memTell(block.handle), 10);
    EXPECT_EQ(memRead(buffer, 16, block.handle), 0);
    EXPECT_EQ(memRead(buffer, 0, block.handle), 0);
    EXPECT_EQ(memRead(buffer, -5, block.handle), 0);
}

TEST(MemoryStream, SeeksOutsideTheBlockFailAndKeepThePosition)
{
    Block block(10);
    ASSERT_NE(memSeek(block.handle, 3, 0), 0);

    EXPECT_EQ(memSeek(block.handle, 11, 0), 0);
    EXPECT_EQ(memSeek(block.handle, 1, 2), 0);
    EXPECT_EQ(memSeek(block.handle, -4, 1), 0);
    EXPECT_EQ(memSeek(block.handle, 0, 3), 0) << "unknown mode";
    EXPECT_EQ(memTell(block.handle), 3);

    EXPECT_NE(memSeek(block.handle, 0, 2), 0) << "the very end is a valid position";
    EXPECT_EQ(memTell(block.handle), 10);
    EXPECT_NE(memSeek(block.handle, -3, 1), 0);
    EXPECT_EQ(memTell(block.handle), 7);
    EXPECT_NE(memSeek(block.handle, -10, 2), 0);
    EXPECT_EQ(memTell(block.handle), 0);
    EXPECT_EQ(memSeek(block.handle, 0x7fffffff, 1), 0) << "no overflow past the end";
}

TEST(MemoryStream, OnlyBlocksOfKnownLengthOpen)
{
    static const unsigned char unknown[4] = {};
    EXPECT_EQ(memOpen(reinterpret_cast<const char*>(unknown)), nullptr);
    EXPECT_EQ(memOpen(nullptr), nullptr);

    void* soundtrack = memOpen(reinterpret_cast<const char*>(soundtrackModule));
    ASSERT_NE(soundtrack, nullptr);
    ASSERT_NE(memSeek(soundtrack, 0, 2), 0);
    EXPECT_EQ(memTell(soundtrack), static_cast<int>(soundtrackModuleSize));
    memClose(soundtrack);

    memClose(nullptr);
    EXPECT_EQ(memRead(nullptr, 4, nullptr), 0);
    EXPECT_EQ(memSeek(nullptr, 0, 0), 0);
    EXPECT_EQ(memTell(nullptr), -1);
}

} // namespace
