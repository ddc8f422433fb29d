#include "../core/frame.h"
#include "../core/timing.h"
#include "fake_platform.h"
#include "frames.h"

#include <gtest/gtest.h>

namespace {

void reset(const FakeConfig& config = FakeConfig()) {
    fake_reset(config);
    timing = TimingState();
    init_timing(config.frequency);
}

// Pulse lengths in ticks between successive line changes.
std::vector<std::int64_t> pulse_ticks() {
    std::vector<std::int64_t> out;
    LineChanges changes = fake_line_changes();
    for (std::size_t i = 1; i < changes.size(); ++i)
        out.push_back(changes[i].first - changes[i - 1].first);
    return out;
}

const std::int64_t U1 = 8333, U4 = 33333;
const std::int64_t LEAD = 66666 + 1; // the anchoring reading follows the first switch

} // namespace

TEST(Frame, LineChangesAndTheirExactTimes) {
    struct Case {
        command_code code;
        RobotModel model;
        std::vector<std::int64_t> pulses;
    };
    std::vector<std::int64_t> zero8 = {LEAD};
    for (int i = 0; i < 8; ++i)
        zero8.insert(zero8.end(), {U1, U1});
    std::vector<std::int64_t> zero12 = zero8;
    for (int i = 0; i < 4; ++i)
        zero12.insert(zero12.end(), {U1, U1});
    const std::vector<std::int64_t> f86 = {LEAD, U4, U1, U1, U1, U1, U1, U1, U1,
                                           U1,   U1, U4, U1, U4, U1, U1, U1};
    std::vector<std::int64_t> f186_v2 = {LEAD, U1, U1, U1, U1, U1, U1, U4, U1};
    f186_v2.insert(f186_v2.end(), f86.begin() + 1, f86.end());

    const Case cases[] = {
        {0x86, MODEL_V1, f86}, {0x186, MODEL_V1, f86}, {0x186, MODEL_V2, f186_v2},
        {0, MODEL_V1, zero8},  {0, MODEL_PET, zero12}, {0x7FFFF000, 5, zero12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        reset();
        send_frame(fake_serial_port(), c.code, c.model, true);
        EXPECT_EQ(pulse_ticks(), c.pulses);
        LineChanges changes = fake_line_changes();
        ASSERT_FALSE(changes.empty());
        EXPECT_TRUE(changes.front().second);
        EXPECT_FALSE(changes.back().second); // every frame leaves the line off
    }
}

TEST(Frame, PriorityWarningsInOrderAndRestoredAfterwards) {
    struct Case {
        long process_error, thread_error;
        bool report;
        const char* printed;
    } cases[] = {
        {0, 0, true, ""},
        {5, 0, true, "Warning: cannot set the process realtime priority class: err=5\n"},
        {0, 1, true, "Warning: cannot set thread priority to time critical: err=1\n"},
        {13, 1, true,
         "Warning: cannot set the process realtime priority class: err=13\n"
         "Warning: cannot set thread priority to time critical: err=1\n"},
        {13, 1, false, ""},
    };
    for (const Case& c : cases) {
        FakeConfig config;
        config.process_error = c.process_error;
        config.thread_error = c.thread_error;
        reset(config);
        testing::internal::CaptureStdout();
        send_frame(fake_serial_port(), 0x8E, MODEL_V1, c.report);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
        std::vector<FakeOp> order;
        for (const FakeCall& call : fake_calls())
            if (call.op != OP_BREAK_ON && call.op != OP_BREAK_OFF)
                order.push_back(call.op);
        std::vector<FakeOp> want = {OP_REST, OP_RAISE_PROCESS, OP_RAISE_THREAD, OP_NORMAL_PROCESS,
                                    OP_NORMAL_THREAD};
        EXPECT_EQ(order, want);
        ASSERT_EQ(decode_frames(fake_line_changes(), 8333.33).size(), 1u);
    }
}

TEST(Frame, TickModeFrameDecodesAndReleasesTheTimer) {
    reset();
    timing.use_mm_timer = 1;
    send_frame(fake_serial_port(), 0x3AA, MODEL_V2, true);
    auto frames = decode_frames(fake_line_changes(), 8333.33);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].code, 0x3AAu);
    EXPECT_EQ(frames[0].bits, 12);
    EXPECT_TRUE(frames[0].well_formed);
    EXPECT_GT(fake_calls_of(OP_TICK_WAIT).size(), 1u);
    EXPECT_EQ(fake_calls_of(OP_TICK_START).size(), 1u);
    EXPECT_EQ(fake_calls_of(OP_TICK_STOP).size(), 1u);
    EXPECT_EQ(fake_calls().back().op, OP_NORMAL_THREAD);

    // A timer that stops ticking mid-frame: one wait runs out, and the rest
    // of the frame goes out busy-waiting, whole.
    FakeConfig stops;
    stops.ticks_stop_at = 5;
    reset(stops);
    timing.use_mm_timer = 1;
    send_frame(fake_serial_port(), 0x3AA, MODEL_V2, true);
    frames = decode_frames(fake_line_changes(), 8333.33);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].code, 0x3AAu);
    EXPECT_EQ(fake_calls_of(OP_TICK_WAIT).size(), 5u);
}
