#!/usr/bin/env python3
"""Writes the seed corpus of the three fuzz targets into corpus/<target>/.

Each seed spells out, byte by byte, an input in the format FuzzInput and the
targets decode: valid calls and solves of several sizes, plus one of each kind
of bad argument, so that fuzzing starts from every branch of the validation.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Selector bytes of FuzzInput::value() for values from its table.
NAN, INF, NEG_INF, HUGE = 11, 12, 13, 14
TWO_31, TWO_63 = 24, 32


def dyadic(v):
    """Selector byte of a small half in [-4, 4] (selectors 36..191)."""
    k = int(v * 2) + 8
    return next(s for s in range(36, 192) if s % 17 == k)


def raw(v):
    return bytes([255]) + struct.pack(">d", v)


def gateway(dims, nlhs, args, count=0):
    """args: per argument (kind, flags, shape, value bytes)."""
    out = bytes([dims, nlhs, count])
    for kind, flags, shape, values in args:
        out += bytes([kind, flags, shape]) + values
    return out


def natural_call(dims, nlhs, iterations_pick, data=None):
    """A valid call: arrays of the natural shape for n = dims."""
    import random
    rng = random.Random(dims * 10 + nlhs)
    vec = lambda: b"".join(bytes([dyadic(rng.randint(-8, 8) / 2)]) for _ in range(dims))
    mat = lambda: b"".join(bytes([dyadic(rng.randint(-8, 8) / 2)]) for _ in range(dims * dims))
    one = lambda v: bytes([dyadic(v)])
    return [(0, 0, 1, vec()), (0, 0, 0, mat()), (0, 0, 1, vec()), (0, 0, 0, one(1)),
            (0, 0, 0, mat()), (0, 0, 1, vec()), (0, 0, 0, one(3)),
            (0, 0, 0, bytes([0])), (0, 0, 0, bytes([iterations_pick]))]


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def gateway_seeds():
    # iterations pick p < 128 gives p % 48 - 6 (+ 0.5 from 96 on).
    write("gateway", "valid_n2", gateway(2, 1, natural_call(2, 1, 9)))
    write("gateway", "valid_n5_trace", gateway(5, 2, natural_call(5, 2, 30)))
    write("gateway", "valid_n9_no_output", gateway(9, 0, natural_call(9, 0, 40)))
    write("gateway", "valid_n0_trace", gateway(0, 2, natural_call(0, 2, 10)))
    write("gateway", "valid_fractional", gateway(3, 1, natural_call(3, 1, 100)))
    args = natural_call(2, 1, 9)
    write("gateway", "nargin_8", gateway(2, 1, args[:8], count=236))
    write("gateway", "nargout_3", gateway(2, 3, args))
    bad = list(args)
    bad[1] = (0xf0, 0, 0, args[1][3])  # P single
    write("gateway", "p_single", gateway(2, 1, bad))
    bad = list(args)
    bad[4] = (0, 1, 0, args[4][3])  # Q complex
    write("gateway", "q_complex", gateway(2, 1, bad))
    bad = list(args)
    bad[5] = (0, 2, 1, args[5][3])  # d sparse
    write("gateway", "d_sparse", gateway(2, 1, bad))
    bad = list(args)
    bad[2] = (0, 0, 201, bytes([1]) + args[2][3][:1])  # c 1x1
    write("gateway", "c_short", gateway(2, 1, bad))
    bad = list(args)
    bad[1] = (0, 0, 203, bytes([3]) + bytes([dyadic(1)] * 9))  # P 3x3
    write("gateway", "p_3x3", gateway(2, 1, bad))
    bad = list(args)
    bad[4] = (0, 0, 252, bytes([2]) + bytes([dyadic(1)] * 8))  # Q 2x2x2
    write("gateway", "q_2x2x2", gateway(2, 1, bad))
    bad = list(args)
    bad[1] = (0, 0, 205, bytes([1]) + args[1][3] + bytes([dyadic(3)]))  # P a 5x1 column: valid
    write("gateway", "p_column", gateway(2, 1, bad))
    bad = list(args)
    bad[7] = (0xf8, 0, 0, bytes([0]))  # n logical
    write("gateway", "n_logical", gateway(2, 1, bad))
    bad = list(args)
    bad[8] = (0, 0, 201, bytes([2, 128, dyadic(1), dyadic(2)]))  # iterations 1x2
    write("gateway", "iterations_pair", gateway(2, 1, bad))
    bad = list(args)
    bad[7] = (0, 0, 0, bytes([128, NAN]))
    write("gateway", "n_nan", gateway(2, 1, bad))
    bad = list(args)
    bad[8] = (0, 0, 0, bytes([128, TWO_63]))
    write("gateway", "iterations_2_63", gateway(2, 1, bad))
    bad = list(args)
    bad[8] = (0, 0, 0, bytes([128, TWO_31]))
    write("gateway", "trace_2_31", gateway(2, 2, bad))
    bad = list(args)
    bad[7] = (0, 0, 0, bytes([128]) + raw(-1.0))
    write("gateway", "n_negative", gateway(2, 1, bad))


def solver_seeds():
    import random
    step = bytes([dyadic(2), dyadic(1), dyadic(0), dyadic(1), dyadic(0), dyadic(1)])
    for n, iterations, sym in [(1, 5, 0), (2, 20, 0), (7, 60, 1), (17, 100, 0), (0, 10, 0)]:
        import random
        rng = random.Random(n)
        vals = lambda k: b"".join(bytes([dyadic(rng.randint(-8, 8) / 2)]) for _ in range(k))
        data = step + bytes([5]) + vals(5)
        data += bytes([n, iterations * 2 % 256, sym]) + vals(3 * n + 2 * n * n) + vals(2)
        write("solver", f"solve_n{n}", data)
    # A solve of n = 2, then one with checkpoints: n = 6 (below(10) = 5), flags
    # 0 (Ritz steps, linear terms), 200 * 7 / 16 + 1 iterations.
    rng = random.Random(66)
    vals = lambda k: b"".join(bytes([dyadic(rng.randint(-8, 8) / 2)]) for _ in range(k))
    data = step + bytes([5]) + vals(5) + bytes([2, 40, 0]) + vals(3 * 2 + 2 * 4) + vals(2)
    data += bytes([dyadic(0)])  # the gradient tolerance of the solve above
    data += bytes([5, 0, 200]) + vals(3 * 6 + 2 * 36) + vals(2)
    write("solver", "accelerated_n6", data)
    specials = bytes([NAN, 0, INF, NEG_INF, 1, HUGE])
    write("solver", "step_nonfinite", specials + bytes([3, NAN, INF, 2]) + bytes([2, 6, 0]) +
          bytes([dyadic(1), NAN, 0, 0, 1, 1, INF, 0, 2, 2, 0, 0, 1, 1, 0, 0, 3]))


def kernel_seeds():
    import random
    for n in [1, 3, 8, 13, 39]:
        rng = random.Random(n)
        vals = lambda k: b"".join(bytes([dyadic(rng.randint(-8, 8) / 2)]) for _ in range(k))
        data = bytes([n - 1]) + vals(6 * n) + bytes([dyadic(1.5), dyadic(2), dyadic(0.5)])
        data += b"".join(bytes([dyadic(rng.choice([0.5, 1, 2, 4]))]) for _ in range(n))
        m = n % 20
        data += bytes([m - 1 if m else 0, 30]) + vals(3 * max(m, 1) + 2 * max(m, 1) ** 2 + 2)
        data += bytes([n % 2])  # diagonal scaling for odd n
        write("kernels", f"pass_n{n}", data)


gateway_seeds()
solver_seeds()
kernel_seeds()
