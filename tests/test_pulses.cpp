// Infrared transmitters that take whole frames as pulse lengths.
#include "../core/frame.h"
#include "fake_platform.h"
#include "frames.h"
#include "main_on_fake.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

TEST(Pulses, LengthsInWholeMicrosecondsWithoutDrift) {
    struct Case {
        command_code code;
        RobotModel model;
        int bits;
    } cases[] = {{0x86, MODEL_V1, 8}, {0x3AA, MODEL_V2, 12}, {0x28E, MODEL_PET, 12},
                 {0xFFF, 7, 12},      {0, MODEL_V1, 8},      {0x186, MODEL_V1, 8}};
    const double unit_us = 1e6 / 1200;
    for (const Case& c : cases) {
        std::uint32_t us[MAX_FRAME_PULSES];
        int count = frame_pulses_us(c.code, c.model, us);
        ASSERT_EQ(count, 1 + 2 * c.bits);
        // Pulse, then space and pulse per bit: rebuild the line and decode it.
        LineChanges changes;
        std::int64_t t = 0;
        double total_units = 0;
        for (int i = 0; i < count; ++i) {
            changes.push_back({t, i % 2 == 0});
            double units = std::round(us[i] / unit_us);
            EXPECT_LE(std::fabs(us[i] - units * unit_us), 1.0) << i;
            total_units += units;
            t += us[i];
        }
        changes.push_back({t, false});
        auto frames = decode_frames(changes, unit_us);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].code, static_cast<std::uint32_t>(c.code) & ((1u << c.bits) - 1));
        EXPECT_LE(std::fabs(t - total_units * unit_us), 1.0); // no drift over the frame
    }
}

TEST(Pulses, ARunOnATransmitterHasNoWakeupNoPrioritiesAndReportsErrors) {
    for (int error : {0, 22}) {
        FakeConfig config;
        config.pulse_device = true;
        config.pulse_error = error;
        std::string printed;
        int status = run_main_on_fake({"stop", "-v2", "-port", "/dev/lirc0"}, config, &printed);
        EXPECT_EQ(printed, error ? "error writing port\n" : "");
        EXPECT_EQ(status, error ? 1 : 0);
        auto writes = fake_calls_of(OP_WRITE_PULSES);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].value, 25);
        EXPECT_EQ(writes[0].text.substr(0, 16), "6667 833 833 834"); // 0x3AA: 0011 ...
        EXPECT_TRUE(fake_calls_of(OP_WRITE_BYTE).empty());
        EXPECT_TRUE(fake_calls_of(OP_SLEEP).empty());
        EXPECT_TRUE(fake_calls_of(OP_RAISE_PROCESS).empty());
        EXPECT_TRUE(fake_line_changes().empty());
    }
}
