#include "driver/demo_options.hpp"

#include <gtest/gtest.h>

namespace {

DemoCommand parse(std::initializer_list<const char*> args, std::string& message, DemoOptions* parsed = nullptr)
{
    std::vector<const char*> argv{"morvane"};
    argv.insert(argv.end(), args);
    DemoOptions options;
    const DemoCommand command = parseDemoOptions(static_cast<int>(argv.size()), argv.data(), options, message);
    if (parsed)
        *parsed = options;
    return command;
}

}  // namespace

TEST(DemoOptions, NoArgumentsPlayHelpAndVersionAnswerUnknownIsRefused)
{
    std::string message;
    EXPECT_EQ(parse({}, message), DemoCommand::play);
    EXPECT_EQ(parse({"--help"}, message), DemoCommand::help);
    EXPECT_EQ(parse({"-h"}, message), DemoCommand::help);
    EXPECT_EQ(parse({"--version"}, message), DemoCommand::version);
    EXPECT_EQ(parse({"--fullscreen"}, message), DemoCommand::error);
    EXPECT_NE(message.find("--fullscreen"), std::string::npos);
    EXPECT_EQ(parse({"27"}, message), DemoCommand::error);
}

TEST(DemoOptions, WindowAsksForAWindowAndStillPlays)
{
    std::string message;
    DemoOptions options;
    EXPECT_EQ(parse({}, message, &options), DemoCommand::play);
    EXPECT_FALSE(options.windowed);
    EXPECT_EQ(parse({"--window"}, message, &options), DemoCommand::play);
    EXPECT_TRUE(options.windowed);
    EXPECT_EQ(parse({"--window", "--windowed"}, message, &options), DemoCommand::error);
    EXPECT_NE(message.find("'--windowed'"), std::string::npos);
}
