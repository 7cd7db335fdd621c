// Reads a fuzzer's bytes as a stream of small choices and doubles.
#ifndef BRELVANE_FUZZ_INPUT_H
#define BRELVANE_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

// Past the end every read gives zero bytes, so any input decodes completely.
class FuzzInput {
   public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}

    std::uint8_t byte() {
        if (left_ == 0) return 0;
        --left_;
        return *data_++;
    }

    // A choice in [0, count).
    unsigned below(unsigned count) { return byte() % count; }

    // One selector byte: mostly a value that sits on a boundary of the
    // arithmetic or of the conversions, otherwise eight raw bytes.
    double value() {
        // clang-format off
        static const double chosen[] = {
            0.0, -0.0, 1.0, -1.0, 2.0, 3.0, 0.5, -0.5, 2.7, -2.7, 1e-100,
            std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
            -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::max(),
            -std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
            std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::epsilon(),
            1e300, -1e300, 1e-300,
            2147483647.0, 2147483647.5, 2147483648.0, 2147483646.0, -2147483648.0, 4294967296.0,
            65536.0, 65536.5, 9007199254740992.0, 9223372036854774784.0, 9223372036854775808.0,
            -9223372036854775808.0, -9223372036854777856.0, 18446744073709551616.0};
        // clang-format on
        constexpr unsigned count = sizeof chosen / sizeof chosen[0];
        const unsigned selector = byte();
        if (selector < count) return chosen[selector];
        // Small integers and halves, which make exact ties common.
        if (selector < 192) return static_cast<double>(static_cast<int>(selector % 17) - 8) / 2.0;
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = bits << 8 | byte();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }

   private:
    const std::uint8_t* data_;
    std::size_t left_;
};

#endif
