#pragma once

#include <cstdint>

namespace fis {

// splitmix64: tiny, fast and fully specified, so the same seed yields the same data on every
// compiler and library (std:: distributions do not promise that).
class DemoRandom
{
public:
    explicit DemoRandom(std::uint64_t seed)
        : m_state(seed)
    {}

    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // Uniform in [0, bound) by the multiply-shift reduction; bound > 0.
    std::uint64_t below(std::uint64_t bound)
    {
        return static_cast<std::uint64_t>((static_cast<unsigned __int128>(next()) * bound) >> 64);
    }

    // Uniform in [lo, hi].
    std::int64_t between(std::int64_t lo, std::int64_t hi)
    {
        return lo + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(hi - lo) + 1));
    }

    // True with the given chance in percent.
    bool percent(int chance) { return below(100) < static_cast<std::uint64_t>(chance); }

private:
    std::uint64_t m_state;
};

} // namespace fis
