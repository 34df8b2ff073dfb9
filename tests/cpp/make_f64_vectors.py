#!/usr/bin/env python3
"""Writes reference texts for render_f64, computed with exact integer arithmetic.

Each line is "<bits> <digits> <point>[ tie]": the double's 64 bits in hex (the sign
bit included), its expected digits d1...dn and the position k of the decimal point
(the value is 0.d1...dn x 10^k), and "tie" when the exact value lies halfway between
the two nearest shortest candidates. The digits are the shortest string that reads back
to the double (the interval of such values includes its ends when the significand is
even), the nearest of those to the exact value, and the larger of two equally near.

repr() serves only as a first guess at the length; the length is then confirmed or
corrected by exact search, and the digits never come from it.

Usage: make_f64_vectors.py OUTPUT [--jobs N]
"""

import argparse
import math
import multiprocessing
import os
import random
import struct
import sys
from fractions import Fraction

FRACTION_BITS = 52
FRACTION_MASK = (1 << FRACTION_BITS) - 1
HIDDEN_BIT = 1 << FRACTION_BITS
SIGN_BIT = 1 << 63
POW10 = [10**i for i in range(400)]
MIN_VECTORS = 1_000_000


def bits_of(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def double_of(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def compare_with_pow10(m, q, j):
    """Sign of m * 2^q - 10^j."""
    left, right = m, 1
    if q >= 0:
        left <<= q
    else:
        right <<= -q
    if j >= 0:
        right *= POW10[j]
    else:
        left *= POW10[-j]
    return (left > right) - (left < right)


def guess_length_and_point(x):
    """Significant digits and point position of repr(x): only a starting guess."""
    text = repr(x)
    mantissa, _, exponent = text.partition("e")
    whole, _, fraction = mantissa.partition(".")
    digits = whole + fraction
    stripped = digits.lstrip("0")
    point = len(whole) - (len(digits) - len(stripped)) + (int(exponent) if exponent else 0)
    return max(1, len(stripped.rstrip("0"))), point


def reference(bits):
    """(digits, point, tie) for a positive finite nonzero double given by its bits."""
    biased = bits >> FRACTION_BITS
    fraction = bits & FRACTION_MASK
    if biased == 0:
        m, q = fraction, -1074
    else:
        m, q = fraction | HIDDEN_BIT, biased - 1075

    # In units of 2^(q-2): the value, and the ends of the interval that reads back to it.
    # Below a power of two the next double down is half as far away.
    value4 = 4 * m
    low4 = value4 - (1 if fraction == 0 and biased > 1 else 2)
    high4 = value4 + 2
    inclusive = m % 2 == 0
    scale = q - 2

    length, point = guess_length_and_point(double_of(bits))
    # point: 10^(point-1) <= value < 10^point
    while compare_with_pow10(m, q, point - 1) < 0:
        point -= 1
    while compare_with_pow10(m, q, point) >= 0:
        point += 1

    def nearest_on_grid(exponent):
        """The multiple of 10^exponent nearest the value inside the interval, or None.

        Multiples of 10^(point - n) are exactly the candidates of at most n significant
        digits (a shorter one below 10^(point-1) or at 10^point puts that power of ten
        itself inside the interval)."""
        num, den = 1, 1
        if scale >= 0:
            num <<= scale
        else:
            den <<= -scale
        if exponent >= 0:
            den *= POW10[exponent]
        else:
            num *= POW10[-exponent]
        below, rem = divmod(value4 * num, den)
        if rem == 0:
            return below, False
        low, high = low4 * num, high4 * num

        def inside(c):
            scaled = c * den
            return low <= scaled <= high if inclusive else low < scaled < high

        twice = 2 * rem
        if twice < den:
            order = (below, below + 1)
        else:
            order = (below + 1, below)  # an exact half goes up
        for c in order:
            if inside(c):
                return c, twice == den and inside(below) and inside(below + 1)
        return None

    found = nearest_on_grid(point - length)
    while found is None:
        length += 1
        found = nearest_on_grid(point - length)
    while length > 1:
        shorter = nearest_on_grid(point - length + 1)
        if shorter is None:
            break
        length, found = length - 1, shorter

    c, tie = found
    exponent = point - length
    while c % 10 == 0:
        c //= 10
        exponent += 1
    digits = str(c)
    return digits, exponent + len(digits), tie


def render_chunk(chunk):
    lines = []
    ties = 0
    for bits in chunk:
        digits, point, tie = reference(bits & ~SIGN_BIT)
        ties += tie
        lines.append(f"{bits:016x} {digits} {point}{' tie' if tie else ''}\n")
    return "".join(lines), ties


def is_finite_nonzero(bits):
    return (bits >> FRACTION_BITS) & 0x7FF != 0x7FF and bits & ~SIGN_BIT != 0


def collect_doubles(rng):
    """Bit patterns of the doubles to check, each family aimed at a way of failing."""
    out = set()

    def add(x):
        out.add(bits_of(x) & ~SIGN_BIT)

    def add_bits(b):
        if 0 < b < (0x7FF << FRACTION_BITS):
            out.add(b)

    # Uniform over all bit patterns: every exponent equally likely.
    for _ in range(450_000):
        add_bits(rng.getrandbits(63))

    # Subnormals: the smallest, the largest, and random ones.
    for f in range(1, 3000):
        add_bits(f)
        add_bits(HIDDEN_BIT - f)
    for _ in range(60_000):
        add_bits(rng.getrandbits(FRACTION_BITS))

    # Powers of two (the interval is lopsided there) and their neighbours, subnormal
    # powers of two included.
    for biased in range(1, 0x7FF):
        for d in range(-3, 4):
            add_bits((biased << FRACTION_BITS) + d)
    for i in range(FRACTION_BITS):
        for d in range(-1, 2):
            add_bits((1 << i) + d)

    # Powers of ten and their neighbours.
    for e in range(-323, 309):
        b = bits_of(float(f"1e{e}"))
        for d in range(-3, 4):
            add_bits(b + d)

    # Integers around 2^53, where the spacing grows from 1 to 2; small and huge integers.
    for k in range(-30_000, 30_001):
        add(float(2**53 + k))
    for i in range(1, 20_001):
        add(float(i))
    for _ in range(30_000):
        add(float(rng.getrandbits(rng.randint(1, 80)) or 1))

    # 1e15 to 1e22: integers, then halves, quarters..., no longer all exact.
    low_biased = bits_of(1e15) >> FRACTION_BITS
    high_biased = bits_of(1e22) >> FRACTION_BITS
    for _ in range(100_000):
        add(10 ** rng.uniform(15, 22))
    for _ in range(100_000):
        add_bits((rng.randint(low_biased, high_biased) << FRACTION_BITS)
                 | rng.getrandbits(FRACTION_BITS))

    # Exact ties. A double o * 2^-j (o odd) lies halfway on the grid of 10^(1-j); that
    # is a tie between two shortest candidates when the spacing 2^q of its binade is at
    # least 10^(1-j), so that both neighbours on that grid read back, and less than
    # 10^(2-j), so that no shorter string does. Needing o * 2^-j to be a multiple of
    # 2^q confines them to the binades from about 2^-24 to 2^51 (no subnormal is one).
    # The grids next to that one give near misses.
    for biased in range(1, 0x7FF):
        q = biased - 1075
        if q > -2:
            break
        j = math.ceil(1 - q * math.log10(2))
        for grid, tries in ((j - 1, 300), (j, 3000), (j + 1, 300)):
            shift = -grid - q  # significand = o * 2^shift
            if not 0 <= shift <= FRACTION_BITS:
                continue
            lo_o = HIDDEN_BIT >> shift
            hi_o = (2 * HIDDEN_BIT - 1) >> shift
            for _ in range(tries):
                o = rng.randint(lo_o, hi_o) | 1
                if o > hi_o:
                    o -= 2
                if o >= lo_o:
                    add_bits(((biased - 1) << FRACTION_BITS) + (o << shift))
    # Decimal midpoints (D + 1/2) * 10^E, exact or as the nearest double.
    for _ in range(100_000):
        n = rng.randint(1, 17)
        d = rng.randint(10 ** (n - 1), 10**n - 1)
        e = rng.randint(-340, 300)
        value = Fraction(2 * d + 1, 2) * Fraction(10) ** e
        x = float(value) if value < Fraction(1 << 1024) else 0.0
        if x != 0.0 and math.isfinite(x):
            add(x)
    # Hand-picked shapes: N + 1/4 or 3/4 near 1e15, k + 1/2, eighths.
    for _ in range(30_000):
        add(rng.randint(2**49, 2**51) + rng.choice((0.25, 0.75)))
    for k in range(10_000):
        add(k + 0.5)
    for _ in range(20_000):
        add(rng.randint(0, 2 ** rng.randint(1, 49)) + rng.randint(0, 7) / 8 + 0.125)

    # Doubles nearest to short decimals: the shortest output is the decimal itself.
    for _ in range(100_000):
        n = rng.randint(1, 17)
        x = float(f"{rng.randint(1, 10**n - 1)}e{rng.randint(-340, 308)}")
        if x != 0.0 and math.isfinite(x):
            add(x)

    # A quarter of them negative: the sign must not change the digits. (A set of ints
    # iterates in the same order on every run, so the file is reproducible.)
    return [b | SIGN_BIT if rng.random() < 0.25 else b for b in out]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--seed", type=int, default=20240611)
    args = parser.parse_args()

    doubles = collect_doubles(random.Random(args.seed))
    assert all(is_finite_nonzero(b) for b in doubles)
    if len(doubles) < MIN_VECTORS:
        sys.exit(f"only {len(doubles)} distinct doubles; at least {MIN_VECTORS} wanted")

    chunk = 20_000
    chunks = [doubles[i:i + chunk] for i in range(0, len(doubles), chunk)]
    ties = 0
    tmp = args.output + ".tmp"
    with open(tmp, "w", encoding="ascii") as f, \
            multiprocessing.Pool(max(1, args.jobs)) as pool:
        for text, chunk_ties in pool.imap(render_chunk, chunks):
            f.write(text)
            ties += chunk_ties
    os.replace(tmp, args.output)
    print(f"{len(doubles)} vectors ({ties} exact ties) written to {args.output}")


if __name__ == "__main__":
    main()
