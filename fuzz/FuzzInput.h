#pragma once

// What the fuzzers derive from their input besides the bytes themselves: a hash to pick
// start times from, and a random source for the crontab parser's `R` items that is
// reseeded from every input, so that a crash replays from its input alone.
//
//     const std::uint64_t hash = InputHash(data, size);
//     ReseedRandom(hash);
//     static CCrontabParser parser(NextRandom);

#include <cstddef>
#include <cstdint>

namespace Zent::Fuzz {

// FNV-1a over the input.
inline std::uint64_t InputHash(const std::uint8_t* data, std::size_t size) {
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 1099511628211ull;
    }
    return hash;
}

inline std::uint32_t randomState = 0;

inline void ReseedRandom(std::uint64_t hash) {
    randomState = static_cast<std::uint32_t>(hash);
}

inline std::uint32_t NextRandom() {
    randomState = randomState * 1664525u + 1013904223u;
    return randomState;
}

}  // namespace Zent::Fuzz
