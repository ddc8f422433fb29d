#include "../core/commands.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* name;
    RobotModel model;
    command_code lookup; // program's flavour: first equal entry, message on 0
    command_code decode; // library's flavour: last equal entry, any model → pet table
};

const Case cases[] = {
    {"stop", 1, 0x8E, 0x8E},
    {"stop", 2, 0x3AA, 0x3AA},
    {"stop", 3, 0x28E, 0x28E},
    {"stop", 0, 0, 0x28E},
    {"Stop", 1, 0, 0},
    {"Stop", 2, 0, 0},
    {"Stop", 3, 0, 0},
    {"walk_forward", 1, 0x86, 0x86},
    {"walk_forward", 2, 0, 0},
    {"turn_right", 1, 0x80, 0x80},
    {"raise_arm_throw", 1, 0xFC, 0xFC},
    {"-", 1, 0x8F, 0xFF},
    {"D2_walking", 2, 0x302, 0x302},
    {"_walking", 2, 0x300, 0x300},
    {"D7_head_only", 2, 0x34F, 0x34F},
    {"D1stop", 2, 0x3AB, 0x3AB},
    {"D9_walking", 2, 0x309, 0x309},
    {"D0_head_and_upper_body", 2, 0x320, 0x310},
    {"D3_head_and_upper_body", 2, 0x323, 0x313},
    {"_head_and_upper_body", 2, 0x320, 0x310},
    {"D\x80stop", 2, 0x3AA - 128 - 48, 0x3AA - 128 - 48}, // the direction byte is signed
    {"D3", 2, 0, 0},
    {"D", 2, 0, 0},
    {"", 1, 0, 0},
    {"", 2, 0, 0},
    {"", 3, 0, 0},
    {"wake_up", 3, 0x2C1, 0x2C1},
    {"sleep", 3, 0x2C1, 0x2C1},
    {"jump", 0, 0, 0x2E6},
    {"jump", 7, 0, 0x2E6},
    {"rock", 3, 0x2E8, 0x2E8},
    {"_upper_body_only", 2, 0x318, 0x318},
    {"stop ", 1, 0, 0},
};

} // namespace

TEST(Commands, BothFlavoursResolveAsDesigned) {
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " model " + std::to_string(c.model));
        testing::internal::CaptureStdout();
        EXPECT_EQ(lookup_command(c.name, c.model), c.lookup);
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(printed,
                  c.lookup ? "" : std::string("tarvik: unrecognized command: ") + c.name + "\n");

        testing::internal::CaptureStdout();
        EXPECT_EQ(decode_command(c.name, c.model), c.decode);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
}

TEST(Commands, TablesHaveTheirShape) {
    int named = 0;
    for (const char* name : v1_command_names)
        named += name[0] != '-';
    EXPECT_EQ(named, 66);
    // Every model 2 name resolves to its own code except the duplicated one.
    for (const CommandRow& row : v2_commands) {
        testing::internal::CaptureStdout();
        command_code code = lookup_command(row.name, MODEL_V2);
        testing::internal::GetCapturedStdout();
        if (std::string(row.name) != "_head_and_upper_body") {
            EXPECT_EQ(code, row.code) << row.name;
        }
        EXPECT_GE(row.code, 0x300);
        EXPECT_LE(row.code, 0x3FF);
    }
    for (const CommandRow& row : pet_commands) {
        EXPECT_GE(row.code, 0x280);
        EXPECT_LE(row.code, 0x2FF);
    }
}
