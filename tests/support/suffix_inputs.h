// Inputs for the suffix sorter's tests: the shapes that stress induced sorting (runs of one
// byte, short periods, few distinct bytes, alternating rises and falls) besides random
// bytes. Shared by the unit tests and the SA-IS check against libdivsufsort.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct SuffixInput {
    std::string name;
    std::vector<uint8_t> bytes;
};

// Small inputs of every shape, many of each; sizes 0 to 300.
inline std::vector<SuffixInput> SmallSuffixInputs() {
    std::mt19937 rng(12);
    std::vector<SuffixInput> inputs;
    for (int size = 0; size <= 3; ++size)
        for (int alphabet : {1, 2, 256}) {
            std::vector<uint8_t> b(size);
            for (auto& c : b) c = static_cast<uint8_t>(rng() % alphabet);
            inputs.push_back({"size " + std::to_string(size), b});
        }
    for (int round = 0; round < 3000; ++round) {
        const int size = static_cast<int>(rng() % 300);
        const int alphabet = std::vector<int>{1, 2, 3, 4, 16, 256}[round % 6];
        const int period = 1 + static_cast<int>(rng() % 9);
        std::vector<uint8_t> b(size);
        for (int i = 0; i < size; ++i) {
            if (round % 4 == 1 && i >= period)
                b[i] = b[i - period];  // periodic
            else if (round % 4 == 2)
                b[i] = static_cast<uint8_t>(i % 2 ? 128 + rng() % 128 : rng() % 128);  // zigzag
            else
                b[i] = static_cast<uint8_t>(rng() % alphabet);
        }
        if (round % 4 == 3 && size > 0) b[rng() % size] ^= 1;  // one change in a random string
        inputs.push_back({"round " + std::to_string(round), b});
    }
    return inputs;
}

// A few inputs of a few MB: random, one byte repeated, a short period, two letters, the
// Fibonacci word (repetitive at every scale: a deep recursion), a zigzag whose reduced
// string zigzags again, and 16-bit samples of a smooth wave.
inline std::vector<SuffixInput> LargeSuffixInputs() {
    const size_t n = 3u << 20;
    std::mt19937 rng(34);
    std::vector<SuffixInput> inputs(7);
    inputs[0].name = "random";
    inputs[1].name = "all equal";
    inputs[2].name = "period 7";
    inputs[3].name = "two letters";
    inputs[4].name = "fibonacci";
    inputs[5].name = "zigzag";
    inputs[6].name = "wave samples";
    for (auto& in : inputs) in.bytes.resize(n);
    for (size_t i = 0; i < n; ++i) {
        inputs[0].bytes[i] = static_cast<uint8_t>(rng());
        inputs[1].bytes[i] = 'a';
        inputs[2].bytes[i] = static_cast<uint8_t>("abcabxa"[i % 7]);
        inputs[3].bytes[i] = static_cast<uint8_t>(rng() % 2 ? 'a' : 'b');
        inputs[5].bytes[i] = static_cast<uint8_t>(i % 2 ? 192 + rng() % 64 : i % 4 ? rng() % 96 : 96 + rng() % 96);
        const int sample = static_cast<int>(8000 * ((i / 2) % 400 < 200 ? (i / 2) % 200 : 200 - (i / 2) % 200) / 200) +
                           static_cast<int>(rng() % 64);
        inputs[6].bytes[i] = static_cast<uint8_t>(i % 2 ? sample >> 8 : sample & 0xFF);
    }
    std::string a = "b", b = "a";  // Fibonacci word: next = previous + the one before
    while (b.size() < n) {
        std::string next = b + a;
        a.swap(b);
        b.swap(next);
    }
    inputs[4].bytes.assign(b.begin(), b.begin() + n);
    return inputs;
}
