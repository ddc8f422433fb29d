// Turns recorded line changes back into frames, for checking what went out.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

typedef std::vector<std::pair<std::int64_t, bool>> LineChanges; // (time, break on)

struct DecodedFrame {
    std::uint32_t code;
    int bits;
    bool well_formed;          // every pulse within a quarter unit of 1, 4 or 8 units
    std::vector<double> units; // each pulse's length in units, lead-in first
};

std::vector<DecodedFrame> decode_frames(const LineChanges& changes, double ticks_per_unit);

// The break line of a Value Change Dump as (nanoseconds, on); the wake-up
// marks as times in wakeups, when given.
LineChanges parse_vcd(const std::string& text, std::vector<std::int64_t>* wakeups = nullptr);
