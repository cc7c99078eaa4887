#!/usr/bin/python3
"""Reference data for the codec runtime tests, computed with numpy/scipy.

Writes into the directory given as the first argument:
  cpu/flags.txt                 processor flags from /proc/cpuinfo
  fft/...                       inputs and DFT / DCT-IV / DST-IV references
  vec/...                       inputs and per-operation expected outputs
All binary files are raw little-endian arrays.
"""
import os
import sys

import numpy as np
import scipy.fft

out = sys.argv[1]
rng = np.random.default_rng(20261210)
f32, f64, i32, i16 = np.float32, np.float64, np.int32, np.int16


def write(path, arr):
    full = os.path.join(out, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    np.ascontiguousarray(arr).tofile(full)


# ---------------------------------------------------------------- cpu flags
def cpu_flags():
    vendor, brand, flags = "", "", set()
    with open("/proc/cpuinfo") as f:
        for line in f:
            key, _, value = line.partition(":")
            key = key.strip()
            if key == "vendor_id" and not vendor:
                vendor = value.strip()
            elif key == "model name" and not brand:
                brand = value.strip()
            elif key == "flags" and not flags:
                flags = set(value.split())
    names = {"fpu": "fpu", "mmx": "mmx", "sse": "sse", "sse2": "sse2", "sse3": "pni"}
    os.makedirs(os.path.join(out, "cpu"), exist_ok=True)
    with open(os.path.join(out, "cpu", "flags.txt"), "w") as f:
        f.write("vendor %s\n" % vendor)
        f.write("brand %s\n" % brand)
        for ours, theirs in names.items():
            f.write("%s %d\n" % (ours, 1 if theirs in flags else 0))


# ---------------------------------------------------------------- FFTs
def cfftn_accepts(n):
    """The factor rule of the mixed-radix FFT, written independently."""
    if n < 2:
        return False
    squares, k = [], n
    while k % 16 == 0:
        squares.append(4)
        k //= 16
    j = 3
    while j * j <= k:
        while k % (j * j) == 0:
            squares.append(j)
            k //= j * j
        j += 2
    middle = []
    if k <= 4:
        if k != 1:
            middle.append(k)
    else:
        if k % 4 == 0:
            squares.append(2)
            k //= 4
        j = 2
        while j <= k:
            if k % j == 0:
                middle.append(j)
                k //= j
            j = 3 if j == 2 else j + 2
    factors = squares + middle + squares[::-1]
    if len(factors) > 11 or max(factors) > 23:
        return False
    if len(middle) >= 2 and int(np.prod(middle)) - 1 > 209:
        return False
    return True


def complex_input(n):
    return (rng.uniform(-1, 1, 2 * n)).astype(f32)


def ffts():
    for n in (4, 8, 16, 32, 240, 480, 12, 64):
        x = complex_input(n)
        z = x.astype(f64).view(np.complex128)
        write("fft/fixed_%d_in.f32" % n, x)
        write("fft/fixed_%d_out.f64" % n, np.fft.fft(z).view(f64))
    with open(os.path.join(out, "fft", "cfftn_accepts.txt"), "w") as f:
        for n in range(0, 513):
            f.write("%d %d\n" % (n, 1 if cfftn_accepts(n) else 0))
    for n in list(range(1, 513)) + [1024, 4096]:
        x = complex_input(n)
        z = x.astype(f64).view(np.complex128)
        write("fft/cfftn_%d_in.f32" % n, x)
        write("fft/cfftn_%d_fwd.f64" % n, np.fft.fft(z).view(f64))
        write("fft/cfftn_%d_inv.f64" % n, (np.fft.ifft(z) * n).view(f64))
    for n in (2, 4, 6, 8, 30, 60, 64, 90, 240, 256, 210, 512, 960, 1024, 2048):
        x = rng.uniform(-1, 1, n).astype(f32)
        X = np.fft.rfft(x.astype(f64))
        packed = np.empty(n)
        packed[0] = X[0].real
        packed[1] = X[n // 2].real
        packed[2::2] = X[1:n // 2].real
        packed[3::2] = X[1:n // 2].imag
        write("fft/rfftn_%d_in.f32" % n, x)
        write("fft/rfftn_%d_out.f64" % n, packed)
    for n in (120, 128, 240, 256, 960, 1024, 1920, 2048):
        x = rng.uniform(-1, 1, n).astype(f32)
        write("fft/dct_%d_in.f32" % n, x)
        # scipy's unnormalised type 4 transforms are twice ours.
        write("fft/dct4_%d.f64" % n, scipy.fft.dct(x.astype(f64), type=4) / 2)
        write("fft/dst4_%d.f64" % n, scipy.fft.dst(x.astype(f64), type=4) / 2)


# ---------------------------------------------------------------- vectors
N = 1007          # plain calls: blocks of 8, one block of 4, a tail of 3
NS = 333          # strided calls
SX, SY, SZ = 3, 2, 3
L = 2 * N         # length of every buffer
C = f32(1.7)
CPOW = f32(1.5)
LO, HI = f32(-50.0), f32(75.0)
IC, ILO, IHI = -3, -1000, 5000
A_LOG, B_LOG = f32(0.75), f32(3.0)
OFFSET, SCALE = f32(0.5), f32(1000.0)
LOG2E, LOG10E = 1.4426950216293335, 0.4342944920063019


def inputs():
    special = np.array([0.0, -0.0, 0.5, -0.5, 1.5, -1.5, 2.5, -2.5, 3.5, -3.5, np.nan, np.inf, -np.inf,
                        40000.0, -40000.0, 32767.0, 32767.5, -32768.0, -32768.5, 32766.5, -32767.5,
                        0.49999997, -0.49999997, 2.0 ** 31, -2.0 ** 31, 3e9, -3e9, 1e-40, -1e-40,
                        8388609.0, 1.0, -1.0, 0.25, 100.0, -100.0, 65535.5, 1e30, -1e30],
                       dtype=f32)
    x = np.concatenate([rng.uniform(-100, 100, 300), rng.normal(0, 40000, 300),
                        rng.uniform(-4, 4, 300) // 0.5 * 0.5,  # many halves
                        rng.uniform(0, 1e4, L - 900 - len(special))]).astype(f32)
    x = np.concatenate([special, x]).astype(f32)
    y = rng.uniform(-120, 120, L).astype(f32)
    y[::97] = 0.0
    y[5::101] = np.nan
    y[:N][x[:N] == 2.5] = 2.5  # equal pairs
    fin = (rng.normal(0, 10, L) * np.exp(rng.uniform(-5, 5, L))).astype(f32)
    ia = rng.integers(-2**31, 2**31, L, dtype=np.int64).astype(i32)
    ia[:8] = [0, -1, 1, -2**31, 2**31 - 1, 999, -1001, 6000]
    ib = rng.integers(-50000, 50000, L, dtype=np.int64).astype(i32)
    ib[ib == 0] = 7
    ib[:8] = [1, -1, 2, 3, -1, 7, 1, -3]
    ib[3] = 5  # never -2^31 / -1
    zf = rng.uniform(-9, 9, L).astype(f32)    # initial contents of float outputs
    zi = rng.integers(-9, 9, L).astype(i32)
    zs = rng.integers(-9, 9, L).astype(i16)
    return x, y, fin, ia, ib, zf, zi, zs


def seq_sum(v):
    s = f32(0.0)
    for a in v:
        s = f32(s + a)
    return s


def seq_prod_sum(p):  # p: float64 products, first one starts the sum
    if len(p) == 0:
        return f32(0.0)
    s = f32(p[0])
    for a in p[1:]:
        s = f32(f64(s) + a)
    return s


def reduce4(v):  # (l1 + l3) + (l0 + l2), single precision
    return f32(f32(v[1] + v[3]) + f32(v[0] + v[2]))


def sse_sum(v):
    n, s, i = len(v), f32(0.0), 0
    while i + 8 <= n:
        s = f32(s + f32(reduce4(v[i:i + 4]) + reduce4(v[i + 4:i + 8])))
        i += 8
    if i + 4 <= n:
        s = f32(s + reduce4(v[i:i + 4]))
        i += 4
    for a in v[i:]:
        s = f32(s + a)
    return s


def sse_dual(terms32, tail64, n):
    """Two 4-lane accumulators, lanes (l0 + l2) + (l1 + l3), tail by the generic rule."""
    if n < 4:
        return seq_prod_sum(tail64)
    acc0, acc1 = np.zeros(4, f32), np.zeros(4, f32)
    i = 0
    while i + 8 <= n:
        acc0 = (acc0 + terms32[i:i + 4]).astype(f32)
        acc1 = (acc1 + terms32[i + 4:i + 8]).astype(f32)
        i += 8
    if i + 4 <= n:
        acc0 = (acc0 + terms32[i:i + 4]).astype(f32)
        i += 4
    s = reduce4((acc0 + acc1).astype(f32))
    for a in tail64[i:]:
        s = f32(f64(s) + a)
    return s


def round_away(v64):
    return np.where(v64 > 0, np.trunc(v64 + 0.5), np.trunc(v64 - 0.5))


def packed_convert(x):
    """cvtps2dq: round half to even; NaN and out-of-range give -2^31."""
    x64 = x.astype(f64)
    r = np.rint(x64)
    bad = ~np.isfinite(x64) | (r >= 2.0 ** 31) | (r < -2.0 ** 31)
    r = np.where(bad, -2.0 ** 31, r)
    return r.astype(np.int64)


def vectors():
    x, y, fin, ia, ib, zf, zi, zs = inputs()
    for name, arr in (("x", x), ("y", y), ("fin", fin), ("ia", ia), ("ib", ib),
                      ("zf", zf), ("zi", zi), ("zs", zs)):
        write("vec/in_%s.bin" % name, arr)
    np.seterr(all="ignore")
    refs = {}

    def plain(name, fn, init=zf, src_n=N):
        z = init.copy()
        z[:src_n] = fn(slice(0, src_n))
        refs[name] = z

    def strided(name, fn, init=zf):
        z = init.copy()
        xs, ys, zsl = slice(0, NS * SX, SX), slice(0, NS * SY, SY), slice(0, NS * SZ, SZ)
        z[zsl] = fn(xs, ys)
        refs[name] = z

    x64 = x.astype(f64)

    def ew(name, fx, init=zf, two=False):
        """Element-wise op: plain (x[, y]) and strided (x sx[, y sy]) forms."""
        if two:
            plain(name, lambda s: fx(x[s], y[s]), init)
            strided(name + "Strided", lambda xs, ys: fx(x[xs], y[ys]), init)
        else:
            plain(name, lambda s: fx(x[s]), init)
            strided(name + "Strided", lambda xs, ys: fx(x[xs]), init)

    ew("vecAdd", lambda a, b: (a + b).astype(f32), two=True)
    ew("vecSub", lambda a, b: (a - b).astype(f32), two=True)
    ew("vecMul", lambda a, b: (a * b).astype(f32), two=True)
    ew("vecDiv", lambda a, b: (a / b).astype(f32), two=True)
    ew("vecMin", lambda a, b: np.where(b >= a, a, b), two=True)
    ew("vecMax", lambda a, b: np.where(b <= a, a, b), two=True)
    plain("vecAddScalar", lambda s: (x[s] + C).astype(f32))
    ew("vecScale", lambda a: (C * a).astype(f32))
    ew("vecCopy", lambda a: a)
    plain("vecFill", lambda s: np.full(s.stop, C, f32))
    z = zf.copy(); z[0:NS * SZ:SZ] = C; refs["vecFillStrided"] = z
    plain("vecScaleInPlace", lambda s: (C * zf[s]).astype(f32))
    ew("vecAbs", lambda a: (a.view(np.uint32) & 0x7FFFFFFF).view(f32))
    ew("vecClip", lambda a: np.where(a < LO, LO, np.where(a > HI, HI, a)).astype(f32))
    ew("vecSign", lambda a: np.where(a >= 0, f32(1), f32(-1)).astype(f32))
    ew("vecFloor", lambda a: np.floor(a.astype(f64)).astype(f32))
    ew("vecCeil", lambda a: np.ceil(a.astype(f64)).astype(f32))
    ew("vecRound", lambda a: np.floor(a.astype(f64) + 0.5).astype(f32))
    ew("vecTrunc", lambda a: np.where(a.astype(f64) >= 0, np.floor(a.astype(f64)),
                                      -np.floor(-a.astype(f64))).astype(f32))
    ew("vecSin", lambda a: np.sin(a.astype(f64)).astype(f32))
    ew("vecCos", lambda a: np.cos(a.astype(f64)).astype(f32))
    ew("vecExp", lambda a: np.exp(a.astype(f64)).astype(f32))
    ew("vecLog", lambda a: np.log(a.astype(f64)).astype(f32))
    ew("vecLog2", lambda a: (np.log(a.astype(f64)).astype(f32).astype(f64) * LOG2E).astype(f32))
    ew("vecLog10", lambda a: (np.log(a.astype(f64)).astype(f32).astype(f64) * LOG10E).astype(f32))
    ew("vecSqrt", lambda a: np.sqrt(a.astype(f64)).astype(f32))
    ew("vecPow", lambda a: np.power(a.astype(f64), f64(CPOW)).astype(f32))
    ew("vecScaledLog", lambda a: (f64(A_LOG) * np.log(f64(B_LOG) * a.astype(f64))).astype(f32))

    # Complex operations read 2n floats.
    def cplx(fn):
        re, im = x[0:2 * N:2].astype(f64), x[1:2 * N:2].astype(f64)
        z = zf.copy(); z[:N] = fn(re, im); return z
    refs["vecComplexMagnitude"] = cplx(lambda re, im: np.sqrt(im * im + re * re).astype(f32))
    refs["vecComplexPower"] = cplx(lambda re, im: (im * im + re * re).astype(f32))

    def sse_cplx(mag):
        re, im = x[0:2 * N:2], x[1:2 * N:2]
        p = ((re * re).astype(f32) + (im * im).astype(f32)).astype(f32)
        if mag:
            p = np.sqrt(p).astype(f32)
        z = refs["vecComplexMagnitude" if mag else "vecComplexPower"].copy()
        blocks = N // 4 * 4
        z[:blocks] = p[:blocks]
        return z
    refs["vecComplexMagnitude.sse"] = sse_cplx(True)
    refs["vecComplexPower.sse"] = sse_cplx(False)

    # Conversions: generic rules (NaN leaves the destination unchanged).
    def rc16(a, init):
        a64 = a.astype(f64)
        # Through a 16-bit integer: a rounded -0 becomes +0.
        r = np.where(a64 > 32767, 32767.0, np.where(a64 < -32768, -32768.0, round_away(a64) + 0.0))
        return np.where(np.isnan(a64), init, r).astype(f32)
    plain("vecRoundClip16", lambda s: rc16(x[s], zf[s]))

    def f2i(a, init):
        a64 = a.astype(f64)
        r = np.clip(round_away(np.nan_to_num(a64)), -2.0 ** 31, 2.0 ** 31 - 1)
        return np.where(np.isnan(a64), init, r).astype(np.int64).astype(i32)
    plain("vecFloatToInt", lambda s: f2i(x[s], zi[s]), init=zi)

    def f2s(a, init):
        a64 = a.astype(f64)
        r = np.where(a64 > 32767, 32767, np.where(a64 < -32768, -32768, round_away(np.nan_to_num(a64))))
        return np.where(np.isnan(a64), init, r).astype(np.int64).astype(i16)
    plain("vecFloatToShort", lambda s: f2s(x[s], zs[s]), init=zs)

    def f2is(a):
        v = a.astype(f64) * f64(SCALE) + f64(OFFSET)
        r = np.clip(np.trunc(np.nan_to_num(v)), -2.0 ** 31, 2.0 ** 31 - 1)
        return np.where(np.isnan(v), 0, r).astype(np.int64).astype(i32)
    plain("vecFloatToIntScaled", lambda s: f2is(x[s]), init=zi)

    # Packed conversion paths.
    conv = packed_convert(x[:N])
    sat16 = np.clip(conv, -32768, 32767)
    z = refs["vecRoundClip16"].copy(); b4 = N // 4 * 4
    z[:b4] = sat16[:b4].astype(f32); refs["vecRoundClip16.sse"] = z
    z = refs["vecRoundClip16"].copy(); b8 = N // 8 * 8
    z[:b8] = sat16[:b8].astype(f32); refs["vecRoundClip16.sse2"] = z
    z = refs["vecFloatToInt"].copy(); z[:b8] = conv[:b8].astype(i32); refs["vecFloatToInt.sse2"] = z
    z = refs["vecFloatToShort"].copy(); z[:b8] = sat16[:b8].astype(i16); refs["vecFloatToShort.sse2"] = z

    # Integer operations (wrap modulo 2^32).
    ia64, ib64 = ia.astype(np.int64), ib.astype(np.int64)

    def wrap(v):
        return ((v + 2 ** 31) % 2 ** 32 - 2 ** 31).astype(i32)

    def idiv(a, b):
        q = np.abs(a) // np.abs(b)
        return wrap(np.where((a < 0) ^ (b < 0), -q, q))

    def iew(name, fn, two=True):
        if two:
            plain(name, lambda s: fn(ia64[s], ib64[s]), init=zi)
            strided(name + "Strided", lambda xs, ys: fn(ia64[xs], ib64[ys]), init=zi)
        else:
            plain(name, lambda s: fn(ia64[s]), init=zi)
            strided(name + "Strided", lambda xs, ys: fn(ia64[xs]), init=zi)
    iew("ivecAdd", lambda a, b: wrap(a + b))
    iew("ivecSub", lambda a, b: wrap(a - b))
    iew("ivecMul", lambda a, b: wrap(a * b))
    iew("ivecDiv", idiv)
    iew("ivecMin", lambda a, b: np.minimum(a, b).astype(i32))
    iew("ivecMax", lambda a, b: np.maximum(a, b).astype(i32))
    iew("ivecScale", lambda a: wrap(IC * a), two=False)
    iew("ivecCopy", lambda a: a.astype(i32), two=False)
    iew("ivecAbs", lambda a: wrap(np.abs(a)), two=False)
    iew("ivecClip", lambda a: np.where(a < ILO, ILO, np.where(a > IHI, IHI, a)).astype(i32), two=False)
    iew("ivecSign", lambda a: np.where(a < 0, -1, 1).astype(i32), two=False)
    plain("ivecScaleInPlace", lambda s: wrap(IC * zi[s].astype(np.int64)), init=zi)
    z = zi.copy(); z[:N] = IC; refs["ivecFill"] = z
    z = zi.copy(); z[0:NS * SZ:SZ] = IC; refs["ivecFillStrided"] = z
    zb = zs.view(np.uint8).copy(); zb[:N] = x.view(np.uint8)[:N]; refs["bvecCopy"] = zb

    # Reductions (one float).
    fin64 = fin.astype(f64)
    def red(name, value):
        refs[name] = np.array([value], f32)
    red("vecSum", seq_sum(fin[:N]))
    red("vecSum.sse", sse_sum(fin[:N]))
    fy = fin[N:2 * N]  # second operand of the two-array reductions
    prod = fin64[:N] * fy.astype(f64)
    red("vecDotProduct", seq_prod_sum(prod))
    red("vecDotProduct.sse", sse_dual((fin[:N] * fy).astype(f32), prod, N))
    ps = fin64[0:NS * SX:SX] * fy.astype(f64)[0:NS * SY:SY]
    red("vecDotProductStrided", seq_prod_sum(ps))
    red("vecEnergy", seq_prod_sum(fin64[:N] * fin64[:N]))
    d = (fin[:N] - fy).astype(f32)
    red("vecSquaredDistance", seq_prod_sum(d.astype(f64) * d.astype(f64)))
    red("vecSquaredDistance.sse", sse_dual((d * d).astype(f32), d.astype(f64) * d.astype(f64), N))
    ds = (fin[0:NS * SX:SX] - fy[0:NS * SY:SY]).astype(f32)
    red("vecSquaredDistanceStrided", seq_prod_sum(ds.astype(f64) * ds.astype(f64)))
    red("vecMinValue", np.min(fin[:N]))
    red("vecMaxValue", np.max(fin[:N]))

    with open(os.path.join(out, "vec", "manifest.txt"), "w") as f:
        for name, arr in refs.items():
            write("vec/ref_%s.bin" % name, arr)
            f.write("%s\n" % name)


# ---------------------------------------------------------------- random
def ranmar_buffer(s):
    i, j = (s // 177) % 177 + 2, s % 177 + 2
    k, l = (9373 // 169) % 178 + 1, 9373 % 169
    buf = []
    for _ in range(607):
        value, weight = 0.0, 0.5
        for _ in range(24):
            m = (((i * j) % 179) * k) % 179
            i, j, k = j, k, m
            l = (53 * l + 1) % 169
            if (l * m) % 64 >= 32:
                value += weight
            weight *= 0.5
        buf.append(value)
    return buf


def lagged_stream(buf, count):
    x = list(buf)  # x_0 .. x_606, then x_t = (x_{t-607} + x_{t-273}) mod 1
    while len(x) < count:
        t = len(x)
        v = x[t - 607] + x[t - 273]
        x.append(v - int(v))
    return np.array(x[:count], dtype=f64)


def randoms():
    write("random/seed1802.f64", lagged_stream(ranmar_buffer(1802), 5000))
    write("random/seed1.f64", lagged_stream(ranmar_buffer(1), 5000))


cpu_flags()
ffts()
vectors()
randoms()
