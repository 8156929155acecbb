#pragma once
// Whole-number factorisation for the plan search. The numbers factored are below 2^53 (a
// request's numerator and denominator, 70 times an oscillator frequency), so trial division by
// the primes below 1024 followed by Miller-Rabin and Pollard-Brent on what is left is fast and
// always complete.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarvel::plan_detail {

struct PrimePower {
    std::uint64_t prime = 0;
    int exponent = 0;
};

// Room for the distinct primes of a product of a number below 2^53, N1, NC1 and a q0 up to 70,
// the largest the search merges: that product is below 2^83, and the first 20 primes
// multiply to more than 2^88.
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
    std::array<PrimePower, 20> items_{};
    std::size_t count_ = 0;
};

// Deterministic for every 64-bit n.
bool isPrime(std::uint64_t n);

// The prime factors of n (1 <= n < 2^63) added to `into`.
void factorInto(std::uint64_t n, Factors& into);

inline Factors factorsOf(std::uint64_t n) {
    Factors f;
    factorInto(n, f);
    return f;
}

// Bit i stands for the i-th prime (2, 3, 5, .., 67): enough to tell whether a number is coprime
// to any number up to 70.
inline constexpr std::array<std::uint64_t, 19> kMaskPrimes{2,  3,  5,  7,  11, 13, 17, 19, 23, 29,
                                                           31, 37, 41, 43, 47, 53, 59, 61, 67};
// The bit of a prime, 0 for primes above 67.
constexpr std::uint32_t primeBit(std::uint64_t prime) {
    for (std::size_t i = 0; i < kMaskPrimes.size(); ++i) {
        if (kMaskPrimes[i] == prime) return std::uint32_t{1} << i;
    }
    return 0;
}
constexpr std::uint32_t smallPrimeMask(std::uint64_t n) {
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < kMaskPrimes.size(); ++i) {
        if (n % kMaskPrimes[i] == 0) mask |= std::uint32_t{1} << i;
    }
    return mask;
}

// Appends to `out` every divisor d of the factored number with d <= limit (unsorted).
void divisorsUpTo(const Factors& factors, std::uint64_t limit, std::vector<std::uint64_t>& out);

// Every split of the factored number into small * large with small <= smallLimit and
// large <= largeLimit (unordered), with the small primes of `large`. Both parts only grow while
// the primes are distributed, so anything past a limit is cut off early.
struct DivisorPair {
    std::uint64_t small, large;
    std::uint32_t largePrimes;  // smallPrimeMask(large)
};
void divisorPairs(const Factors& factors, std::uint64_t smallLimit, std::uint64_t largeLimit,
                  std::vector<DivisorPair>& out, std::vector<DivisorPair>& scratch);

// Remembers the last few factorisations: near misses of one request often share a cofactor.
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
