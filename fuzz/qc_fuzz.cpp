// Any bytes as a stored value, a "Date & time" text, a record filter or a half-life file:
// each reader answers or declines, and what it reads back is what it wrote.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "qc/half_life.h"
#include "qc/reading.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto v = krv::qc::readValue(text); v && !std::isfinite(*v)) std::abort();
    for (bool dayFirst : {false, true}) {
        krv::qc::DateSettings settings;
        settings.dayFirst = dayFirst;
        settings.twoDigitYearPivot = size % 101;
        const auto t = krv::qc::readDateTime(text, settings);
        // A date read is written in a form that reads back to the same second.
        if (t && krv::qc::readDateTime(krv::qc::formatDateTime(*t), settings) != t) std::abort();
    }
    const std::size_t half = size / 2;
    krv::qc::RecordFilter filter(text.substr(0, half));
    filter.matches(text.substr(half));
    // Without wildcards a filter picks exactly its own text.
    if (text.find_first_of("*?") == text.npos && !krv::qc::RecordFilter(text).matches(text))
        std::abort();
    krv::qc::HalfLifeTable table = krv::qc::HalfLifeTable::recommended();
    if (table.addFromText(text, "fuzz").ok()) {
        for (const auto& h : table.entries()) {
            if (!(h.seconds > 0) || table.find(h.nuclide) == nullptr) std::abort();
        }
    }
    return 0;
}
