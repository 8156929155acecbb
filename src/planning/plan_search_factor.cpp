#include "planning/plan_search_factor.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <numeric>

#include "planning/plan_search_wide.h"

namespace quarvel::plan_detail {

namespace {

// Odd primes below 1024 with their inverses modulo 2^64: n is a multiple of p exactly when
// n * inverse <= max / p, which spares a division per test.
struct SmallPrime {
    std::uint64_t prime, inverse, limit;
};

constexpr std::size_t kSmallPrimeCount = 171;  // odd primes below 1024

constexpr std::array<SmallPrime, kSmallPrimeCount> makeSmallPrimes() {
    std::array<SmallPrime, kSmallPrimeCount> table{};
    std::size_t count = 0;
    for (std::uint64_t p = 3; p < 1024; p += 2) {
        bool prime = true;
        for (std::uint64_t d = 3; d * d <= p; d += 2) {
            if (p % d == 0) prime = false;
        }
        if (!prime) continue;
        std::uint64_t inverse = p;  // Newton's iteration doubles the correct low bits each step
        for (int i = 0; i < 5; ++i) inverse *= 2 - p * inverse;
        table[count++] = {p, inverse, std::numeric_limits<std::uint64_t>::max() / p};
    }
    return table;
}

constexpr auto kSmallPrimes = makeSmallPrimes();
static_assert(kSmallPrimes.back().prime == 1021);

// Montgomery arithmetic modulo an odd n below 2^63.
class Montgomery {
  public:
    explicit Montgomery(std::uint64_t n) : n_(n) {
        std::uint64_t inverse = n;
        for (int i = 0; i < 6; ++i) inverse *= 2 - n * inverse;
        negInverse_ = 0 - inverse;
        const std::uint64_t r1 = (0 - n) % n;  // 2^64 mod n
        r2_ = remainder(multiply(r1, r1), n);  // r1 < n: no reduction before the product
    }
    std::uint64_t to(std::uint64_t a) const { return mul(a % n_, r2_); }
    std::uint64_t from(std::uint64_t a) const { return reduce({0, a}); }
    std::uint64_t mul(std::uint64_t a, std::uint64_t b) const { return reduce(multiply(a, b)); }
    std::uint64_t add(std::uint64_t a, std::uint64_t b) const {
        const std::uint64_t s = a + b;
        return s >= n_ ? s - n_ : s;
    }
    std::uint64_t modulus() const { return n_; }

  private:
    std::uint64_t reduce(U128 t) const {  // t < n * 2^64
        const U128 mn = multiply(t.lo * negInverse_, n_);
        // The low halves of t and mn add up to 0 mod 2^64, so they carry exactly when t.lo is
        // not 0; no 128-bit addition needed. The sum stays below 2n < 2^64.
        const std::uint64_t r = t.hi + mn.hi + (t.lo != 0 ? 1 : 0);
        return r >= n_ ? r - n_ : r;
    }
    std::uint64_t n_, negInverse_ = 0, r2_ = 0;
};

bool millerRabinWitness(const Montgomery& m, std::uint64_t base, std::uint64_t d, int s) {
    const std::uint64_t n = m.modulus();
    const std::uint64_t one = m.to(1), minusOne = m.to(n - 1);
    std::uint64_t x = one, b = m.to(base);
    for (std::uint64_t e = d; e != 0; e >>= 1) {
        if (e & 1) x = m.mul(x, b);
        b = m.mul(b, b);
    }
    if (x == one || x == minusOne) return false;
    for (int i = 1; i < s; ++i) {
        x = m.mul(x, x);
        if (x == minusOne) return false;
    }
    return true;
}

// The same test with plain 128-bit remainders, for moduli too large for Montgomery form.
bool anyWitnessWide(std::uint64_t n, std::uint64_t d, int s) {
    // Both factors are already below n.
    const auto mul = [n](std::uint64_t a, std::uint64_t b) { return remainder(multiply(a, b), n); };
    for (const std::uint64_t base : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37}) {
        std::uint64_t x = 1, b = base;
        for (std::uint64_t e = d; e != 0; e >>= 1) {
            if (e & 1) x = mul(x, b);
            b = mul(b, b);
        }
        if (x == 1 || x == n - 1) continue;
        bool witness = true;
        for (int i = 1; i < s && witness; ++i) {
            x = mul(x, x);
            witness = x != n - 1;
        }
        if (witness) return true;
    }
    return false;
}

// A nontrivial factor of an odd composite n (Pollard-Brent, Montgomery form).
std::uint64_t pollardBrent(std::uint64_t n) {
    const Montgomery m(n);
    for (std::uint64_t c = 1;; ++c) {
        const std::uint64_t cm = m.to(c);
        auto f = [&](std::uint64_t v) { return m.add(m.mul(v, v), cm); };
        std::uint64_t y = m.to(2), x = y, q = m.to(1), ys = y, g = 1;
        constexpr std::uint64_t kBatch = 64;
        for (std::uint64_t r = 1; g == 1; r <<= 1) {
            x = y;
            for (std::uint64_t i = 0; i < r; ++i) y = f(y);
            for (std::uint64_t k = 0; k < r && g == 1; k += kBatch) {
                ys = y;
                for (std::uint64_t i = 0; i < kBatch && i < r - k; ++i) {
                    y = f(y);
                    q = m.mul(q, x > y ? x - y : y - x);
                }
                g = std::gcd(m.from(q), n);
            }
        }
        if (g == n) {  // the batch overshot: step back one at a time
            do {
                ys = f(ys);
                g = std::gcd(x > ys ? x - ys : ys - x, n);
            } while (g == 1);
        }
        if (g != n) return g;
    }
}

void splitInto(std::uint64_t n, Factors& into) {
    if (n == 1) return;
    if (isPrime(n)) {
        into.add(n);
        return;
    }
    const std::uint64_t d = pollardBrent(n);
    splitInto(d, into);
    splitInto(n / d, into);
}

}  // namespace

void Factors::add(std::uint64_t prime, int exponent) {
    for (std::size_t i = 0; i < count_; ++i) {
        if (items_[i].prime == prime) {
            items_[i].exponent += exponent;
            return;
        }
    }
    items_[count_++] = {prime, exponent};
}

void Factors::addAll(const Factors& other) {
    for (std::size_t i = 0; i < other.count_; ++i) add(other[i].prime, other[i].exponent);
}

void Factors::removeAll(const Factors& divisor) {
    for (std::size_t j = 0; j < divisor.count_; ++j) {
        for (std::size_t i = 0; i < count_; ++i) {
            if (items_[i].prime != divisor[j].prime) continue;
            items_[i].exponent -= divisor[j].exponent;
            if (items_[i].exponent <= 0) items_[i] = items_[--count_];
            break;
        }
    }
}

std::uint64_t Factors::largestPrime() const {
    std::uint64_t largest = 1;
    for (std::size_t i = 0; i < count_; ++i) largest = std::max(largest, items_[i].prime);
    return largest;
}

bool isPrime(std::uint64_t n) {
    if (n < 2) return false;
    for (const std::uint64_t p : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37}) {
        if (n % p == 0) return n == p;
    }
    if (n < 41 * 41) return true;
    const int s = std::countr_zero(n - 1);
    const std::uint64_t d = (n - 1) >> s;
    if (n >= (std::uint64_t{1} << 63)) return !anyWitnessWide(n, d, s);  // never met here
    const Montgomery m(n);
    // These twelve bases decide every n below 3.3e24.
    for (const std::uint64_t base : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37}) {
        if (millerRabinWitness(m, base, d, s)) return false;
    }
    return true;
}

void factorInto(std::uint64_t n, Factors& into) {
    if (n <= 1) return;
    if (const int twos = std::countr_zero(n); twos > 0) {
        into.add(2, twos);
        n >>= twos;
    }
    for (const SmallPrime& p : kSmallPrimes) {
        if (p.prime * p.prime > n) break;
        if (n * p.inverse > p.limit) continue;
        int exponent = 0;
        while (n * p.inverse <= p.limit) {
            n *= p.inverse;  // the exact quotient
            ++exponent;
        }
        into.add(p.prime, exponent);
    }
    if (n == 1) return;
    if (n < 1031 * 1031) {  // no factor below 1024 is left, so n is prime
        into.add(n);
        return;
    }
    splitInto(n, into);
}

void divisorsUpTo(const Factors& factors, std::uint64_t limit, std::vector<std::uint64_t>& out) {
    const std::size_t start = out.size();
    if (limit < 1) return;
    out.push_back(1);
    for (std::size_t i = 0; i < factors.size(); ++i) {
        const auto [prime, exponent] = factors[i];
        const std::size_t end = out.size();
        for (std::size_t j = start; j < end; ++j) {
            std::uint64_t d = out[j];
            for (int e = 0; e < exponent && d <= limit / prime; ++e) {
                d *= prime;
                out.push_back(d);
            }
        }
    }
}

void divisorPairs(const Factors& factors, std::uint64_t smallLimit, std::uint64_t largeLimit,
                  std::vector<DivisorPair>& out, std::vector<DivisorPair>& scratch) {
    // Powers are capped just above the larger limit, which keeps every product below 2^63
    // (limits up to 2^31) without changing which pairs pass.
    const std::uint64_t cap = std::max(smallLimit, largeLimit) + 1;
    out.clear();
    out.push_back({1, 1, 0});
    std::array<std::uint64_t, 64> powers{};
    for (std::size_t i = 0; i < factors.size(); ++i) {
        const auto [prime, exponent] = factors[i];
        const std::uint32_t bit = primeBit(prime);
        const auto top = static_cast<std::size_t>(exponent);
        powers[0] = 1;
        for (std::size_t e = 1; e <= top; ++e) {
            powers[e] = prime >= cap ? cap : std::min(powers[e - 1] * prime, cap);
        }
        scratch.clear();
        for (const DivisorPair& pair : out) {
            for (std::size_t e = 0; e <= top; ++e) {  // prime^e to the small part
                const std::uint64_t small = pair.small * powers[e];
                if (small > smallLimit) break;
                const std::uint64_t large = pair.large * powers[top - e];
                if (large > largeLimit) continue;
                scratch.push_back(
                    {small, large, e < top ? pair.largePrimes | bit : pair.largePrimes});
            }
        }
        out.swap(scratch);
    }
}

const Factors& FactorCache::factor(std::uint64_t n) {
    for (const Entry& e : entries_) {
        if (e.value == n && n != 0) return e.factors;
    }
    Entry& slot = entries_[next_];
    next_ = (next_ + 1) % entries_.size();
    slot.value = n;
    slot.factors = Factors{};
    factorInto(n, slot.factors);
    return slot.factors;
}

}  // namespace quarvel::plan_detail
