#include "frames.h"

#include <cmath>
#include <sstream>

namespace {

bool near(double units, double want) {
    return std::fabs(units - want) < 0.25;
}

} // namespace

std::vector<DecodedFrame> decode_frames(const LineChanges& changes, double ticks_per_unit) {
    std::vector<DecodedFrame> frames;
    const std::size_t n = changes.size();
    auto units = [&](std::size_t a) {
        return (changes[a + 1].first - changes[a].first) / ticks_per_unit;
    };
    std::size_t i = 0;
    while (i + 1 < n) {
        if (!changes[i].second) {
            ++i;
            continue;
        }
        DecodedFrame f{0, 0, true, {units(i)}};
        f.well_formed = near(f.units[0], 8);
        ++i; // the break off that ends the lead-in
        // Pairs of gap (the bit) and separator, until the line stays off or
        // the next lead-in begins.
        while (i + 1 < n && units(i) <= 6) {
            if (i + 2 >= n) {
                f.well_formed = false;
                ++i;
                break;
            }
            double gap = units(i);
            double sep = units(i + 1);
            if (sep > 6)
                break;
            f.units.push_back(gap);
            f.units.push_back(sep);
            f.well_formed = f.well_formed && (near(gap, 1) || near(gap, 4)) && near(sep, 1);
            f.code = (f.code << 1) | (gap > 2.5 ? 1u : 0u);
            f.bits += 1;
            i += 2;
        }
        frames.push_back(f);
    }
    return frames;
}

LineChanges parse_vcd(const std::string& text, std::vector<std::int64_t>* wakeups) {
    LineChanges changes;
    std::istringstream in(text);
    std::string line;
    std::int64_t now = 0;
    bool defs_done = false;
    while (std::getline(in, line)) {
        if (line == "$enddefinitions $end")
            defs_done = true;
        if (!defs_done || line.empty())
            continue;
        if (line[0] == '#')
            now = std::stoll(line.substr(1));
        else if (now > 0 && (line == "1!" || line == "0!"))
            changes.push_back({now, line[0] == '1'});
        else if (now > 0 && line == "1\"" && wakeups)
            wakeups->push_back(now);
    }
    return changes;
}
