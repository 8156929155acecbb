#pragma once
// The few 128-bit operations the plan search needs (64 x 64-bit products, remainders and
// quotients by a 64-bit number), with the compiler's unsigned __int128 where it has one and
// plain 64-bit arithmetic elsewhere (MSVC has no 128-bit integer). Both are always compiled
// where __int128 exists, so the tests compare them.

#include <bit>
#include <cstdint>

#if defined(__SIZEOF_INT128__) && !defined(QUARVEL_NO_INT128)
#define QUARVEL_HAS_INT128 1
#endif

namespace quarvel::plan_detail {

struct U128 {
    std::uint64_t hi = 0, lo = 0;

    friend constexpr bool operator==(const U128&, const U128&) = default;
    friend constexpr bool operator<(const U128& a, const U128& b) {
        return a.hi != b.hi ? a.hi < b.hi : a.lo < b.lo;
    }
};

constexpr U128 operator+(U128 a, U128 b) {
    const std::uint64_t lo = a.lo + b.lo;
    return {a.hi + b.hi + (lo < a.lo ? 1 : 0), lo};
}
constexpr U128 operator-(U128 a, U128 b) {
    return {a.hi - b.hi - (a.lo < b.lo ? 1 : 0), a.lo - b.lo};
}
// bits < 128
constexpr U128 shiftLeft(U128 a, int bits) {
    if (bits == 0) return a;
    if (bits >= 64) return {a.lo << (bits - 64), 0};
    return {(a.hi << bits) | (a.lo >> (64 - bits)), a.lo << bits};
}
constexpr double toDouble(U128 a) {  // within two roundings of the value
    return static_cast<double>(a.hi) * 0x1p64 + static_cast<double>(a.lo);
}

namespace portable {

constexpr U128 multiply(std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t kLow = 0xffffffffu;
    const std::uint64_t ll = (a & kLow) * (b & kLow), lh = (a & kLow) * (b >> 32);
    const std::uint64_t hl = (a >> 32) * (b & kLow), hh = (a >> 32) * (b >> 32);
    const std::uint64_t middle = (ll >> 32) + (lh & kLow) + (hl & kLow);  // below 3 * 2^32
    return {hh + (lh >> 32) + (hl >> 32) + (middle >> 32), (middle << 32) | (ll & kLow)};
}

// x mod m and floor(x / m) for m > 0 and x.hi < m (so the quotient fits 64 bits): long
// division one bit at a time. Slow, but the search only divides once per divider range.
struct Division {
    std::uint64_t quotient, remainder;
};
constexpr Division divide(U128 x, std::uint64_t m) {
    std::uint64_t r = x.hi, q = 0;
    for (int bit = 63; bit >= 0; --bit) {
        const bool carry = (r >> 63) != 0;  // r * 2 would not fit: it is at least m
        r = (r << 1) | ((x.lo >> bit) & 1);
        q <<= 1;
        if (carry || r >= m) {
            r -= m;
            q |= 1;
        }
    }
    return {q, r};
}

}  // namespace portable

#ifdef QUARVEL_HAS_INT128
namespace native {

__extension__ using Wide = unsigned __int128;
constexpr Wide wide(U128 a) {
    return (Wide{a.hi} << 64) | a.lo;
}
constexpr U128 multiply(std::uint64_t a, std::uint64_t b) {
    const Wide p = Wide{a} * b;
    return {static_cast<std::uint64_t>(p >> 64), static_cast<std::uint64_t>(p)};
}
constexpr portable::Division divide(U128 x, std::uint64_t m) {
    return {static_cast<std::uint64_t>(wide(x) / m), static_cast<std::uint64_t>(wide(x) % m)};
}

}  // namespace native
namespace wide_impl = native;
#else
namespace wide_impl = portable;
#endif

constexpr U128 multiply(std::uint64_t a, std::uint64_t b) {
    return wide_impl::multiply(a, b);
}
// Requires x.hi < m.
constexpr std::uint64_t remainder(U128 x, std::uint64_t m) {
    return wide_impl::divide(x, m).remainder;
}
constexpr std::uint64_t quotient(U128 x, std::uint64_t m) {
    return wide_impl::divide(x, m).quotient;
}
constexpr std::uint64_t mulMod(std::uint64_t a, std::uint64_t b, std::uint64_t m) {
    return remainder(multiply(a % m, b % m), m);
}

}  // namespace quarvel::plan_detail
