#pragma once
// Whole-number factorisation for the plan search. The numbers are below 2^40 (at most 70 times
// an oscillator frequency), so trial division by the primes below 1024 followed by
// Miller-Rabin and Pollard-Brent on what is left is fast and always complete.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarvel::plan_detail {

struct PrimePower {
    std::uint64_t prime = 0;
    int exponent = 0;
};

// A number below 2^64 has at most 15 distinct prime factors.
class Factors {
  public:
    void add(std::uint64_t prime, int exponent = 1);
    void addAll(const Factors& other);
    // Divides by a divisor of the factored number.
    void removeAll(const Factors& divisor);
    std::uint64_t largestPrime() const;
    std::size_t size() const { return count_; }
    const PrimePower& operator[](std::size_t i) const { return items_[i]; }

  private:
    std::array<PrimePower, 15> items_{};
    std::size_t count_ = 0;
};

// Deterministic for every 64-bit n.
bool isPrime(std::uint64_t n);

// The prime factors of n (1 <= n < 2^63) added to `into`.
void factorInto(std::uint64_t n, Factors& into);

// Bit i stands for the i-th prime (2, 3, 5, .., 67): enough to tell whether a number is coprime
// to any number up to 70.
inline constexpr std::array<std::uint64_t, 19> kMaskPrimes{2,  3,  5,  7,  11, 13, 17, 19, 23, 29,
                                                           31, 37, 41, 43, 47, 53, 59, 61, 67};
constexpr std::uint32_t smallPrimeMask(std::uint64_t n) {
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < kMaskPrimes.size(); ++i) {
        if (n % kMaskPrimes[i] == 0) mask |= std::uint32_t{1} << i;
    }
    return mask;
}

struct Divisor {
    std::uint64_t value;
    std::uint32_t smallPrimes;  // smallPrimeMask(value)
};

// Appends to `out` every divisor d of the factored number with d <= limit (unsorted).
void divisorsUpTo(const Factors& factors, std::uint64_t limit, std::vector<Divisor>& out);

// Remembers the last few factorisations: the search factors the same cofactor (the request
// times N1, or an oscillator frequency for several N31) many times in a row.
class FactorCache {
  public:
    const Factors& factor(std::uint64_t n);

  private:
    struct Entry {
        std::uint64_t value = 0;  // 0: empty
        Factors factors;
    };
    std::array<Entry, 16> entries_{};
    std::size_t next_ = 0;
};

}  // namespace quarvel::plan_detail
