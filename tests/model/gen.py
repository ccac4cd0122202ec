"""Generator of varied raw recordings and detection settings.

Every case comes from one integer seed, so a failing case is rebuilt from
the seed alone. The signals aim at the places where detectors go wrong:
thresholds hit exactly or missed by one count, pulses near the frame end,
sloped and ringing edges, noise, flat frames, samples of exactly 128, and
spacings that disagree enough to need the previous frame as referee.
"""

import math
import random
from fractions import Fraction

from model import f32, pattern_text

POINTS = 1024


class Case:
    def __init__(self, seed):
        self.seed = seed
        self.options = []        # settings as command-line arguments
        self.settings = None     # model.Settings with the same values
        self.raw = b''
        self.description = []
        self.averages = []       # (first text, last text, remove bad)

    def settings_text(self):
        return ' '.join(self.options) if self.options else '(defaults)'


# ---------------------------------------------------------------- settings


def _pick_settings(rng, case, Settings):
    opts = []
    consecutive = max_limit = jump = 0
    zero = hires = 0

    c = rng.choices([None, 1, 2, 3, 0, 7, -1], [3, 3, 3, 4, 1, 1, 1])[0]
    if c is not None:
        consecutive = c
        opts.append('--consecutive=%d' % c)

    r = rng.random()
    if r < 0.25:
        pass
    elif r < 0.85:
        max_limit = rng.choice([5, 40, rng.randint(5, 40), rng.randint(5, 40)])
        opts.append('--max-limit=%d' % max_limit)
    else:
        max_limit = rng.choice([0, 4, 41, 100, -3, 32767])
        opts.append('--max-limit=%d' % max_limit)

    r = rng.random()
    if r < 0.25:
        pass
    elif r < 0.85:
        jump = rng.choice([30, 90, rng.randint(30, 90), rng.randint(30, 90)])
        opts.append('--jump=%d' % jump)
    else:
        jump = rng.choice([0, 29, 91, -80, 200])
        opts.append('--jump=%d' % jump)

    z = rng.choices([None, 'yes', 'no'], [3, 4, 2])[0]
    if z is not None:
        opts.append('--zero-crossing=' + z)
        zero = 1 if z == 'yes' else 0
    h = rng.choices([None, 'yes', 'no'], [2, 4, 2])[0]
    if h is not None:
        opts.append('--hi-res=' + h)
        hires = 1 if h == 'yes' else 0

    case.options = opts
    case.settings = Settings(consecutive, max_limit, jump, zero, hires)
    eff_ml = max_limit if 5 <= max_limit <= 40 else 5
    eff_jump = jump if 30 <= jump <= 90 else 80
    return eff_ml, eff_jump, zero == 1, zero == 1 and hires == 1


# ---------------------------------------------------------------- streams


def _clip(v):
    v = int(math.floor(v + 0.5))
    return 0 if v < 0 else 255 if v > 255 else v


def _edges(rng, total, period, duty, jitter, start_high):
    """Alternating edge times (float points) of a square-like wave."""
    edges = []
    t = rng.uniform(0, period)
    high = start_high
    while t < total + 2 * period:
        p = period * (1 + rng.uniform(-jitter, jitter))
        part = duty if high else 1 - duty
        edges.append((t, not high))
        t += max(1.0, p * part)
        high = not high
    return edges


def _square_stream(rng, total, ml, jump_counts):
    period = rng.choice([rng.uniform(8, 60), rng.uniform(40, 300),
                         rng.uniform(200, 700), rng.uniform(13, 16),
                         rng.uniform(90, 130)])
    duty = rng.choice([0.5, rng.uniform(0.05, 0.95), rng.uniform(0.02, 0.1)])
    jitter = rng.choice([0, 0, 0.01, 0.03, 0.08, 0.2])
    top, bottom = 255 - ml, ml
    lo = rng.choice([0, 0, rng.randint(0, bottom), bottom - 1, bottom,
                     rng.randint(0, 60)])
    hi = rng.choice([255, 255, rng.randint(top, 255), top + 1, top,
                     rng.randint(190, 255)])
    ramp = rng.choice([0, 0, 1, 2, 3, rng.uniform(0, 8)])
    noise = rng.choice([0, 0, 1, 3, rng.uniform(0, 12)])
    ring = rng.choice([0, 0, 0, rng.uniform(5, 60)])
    ring_period = rng.uniform(2.5, 9)
    ring_decay = rng.uniform(1.5, 10)
    start_high = rng.random() < 0.5
    edges = _edges(rng, total, period, duty, jitter, start_high)
    desc = ('square P=%.2f duty=%.2f jit=%.2f lo=%d hi=%d ramp=%.2f '
            'noise=%.1f ring=%.1f' % (period, duty, jitter, lo, hi, ramp,
                                     noise, ring))
    out = []
    level = hi if start_high else lo
    prev_level = level
    k = 0
    last_edge = -1e9
    for n in range(total):
        while k < len(edges) and edges[k][0] <= n:
            prev_level = level
            level = hi if edges[k][1] else lo
            last_edge = edges[k][0]
            k += 1
        v = level
        since = n - last_edge
        if ramp > 0 and since < ramp:
            v = prev_level + (level - prev_level) * since / ramp
        if ring:
            v += ring * math.exp(-since / ring_decay) * math.sin(
                2 * math.pi * since / ring_period)
        if noise:
            v += rng.uniform(-noise, noise)
        out.append(_clip(v))
    return out, desc


def _pulse_stream(rng, total, ml, jump_counts):
    period = rng.choice([rng.uniform(14, 80), rng.uniform(60, 400),
                         rng.uniform(300, 900)])
    width = rng.randint(1, 8)
    base = rng.choice([128, rng.randint(40, 215), rng.randint(0, 255)])
    polarity = rng.choice(['up', 'down', 'both'])
    peak_up = rng.choice([255, 255 - ml + 1, 255 - ml, rng.randint(200, 255)])
    peak_down = rng.choice([0, ml - 1, ml, rng.randint(0, 50)])
    noise = rng.choice([0, 0, 2, rng.uniform(0, 8)])
    jitter = rng.choice([0, 0.02, 0.1])
    desc = ('pulses P=%.2f w=%d base=%d %s up=%d down=%d noise=%.1f' %
            (period, width, base, polarity, peak_up, peak_down, noise))
    out = [base] * total
    t = rng.uniform(0, period)
    up = True
    while t < total:
        start = int(t)
        peak = peak_up if (polarity == 'up' or
                           (polarity == 'both' and up)) else peak_down
        for n in range(start, min(total, start + width)):
            out[n] = peak
        up = not up
        t += period * (1 + rng.uniform(-jitter, jitter))
    if noise:
        out = [_clip(v + rng.uniform(-noise, noise)) for v in out]
    return out, desc


def _sine_stream(rng, total, ml, jump_counts):
    period = rng.choice([rng.uniform(20, 100), rng.uniform(80, 500),
                         rng.uniform(30, 45)])
    amp = rng.choice([rng.uniform(100, 200), rng.uniform(120, 128 - ml + 5),
                      rng.uniform(60, 130)])
    offset = rng.choice([0, 0, rng.uniform(-10, 10)])
    phase = rng.choice([0, math.pi, rng.uniform(0, 2 * math.pi)])
    noise = rng.choice([0, 0, 1, rng.uniform(0, 6)])
    wiggle = rng.choice([0, 0, rng.uniform(2, 25)])
    desc = 'sine P=%.2f A=%.1f off=%.1f ph=%.2f noise=%.1f wiggle=%.1f' % (
        period, amp, offset, phase, noise, wiggle)
    out = []
    for n in range(total):
        v = 128 + offset + amp * math.sin(2 * math.pi * n / period + phase)
        if wiggle:
            v += wiggle * math.sin(2 * math.pi * n / 3.1)
        if noise:
            v += rng.uniform(-noise, noise)
        out.append(_clip(v))
    return out, desc


def _trapezoid_stream(rng, total, ml, jump_counts):
    """Slow slopes through the mid level, some samples exactly 128."""
    period = rng.uniform(40, 400)
    slope = rng.uniform(2, 40)
    lo = rng.choice([0, ml - 1, ml, rng.randint(0, 30)])
    hi = rng.choice([255, 256 - ml, 255 - ml, rng.randint(225, 255)])
    start_high = rng.random() < 0.5
    edges = _edges(rng, total, period, rng.uniform(0.2, 0.8), 0.02,
                   start_high)
    desc = 'trapezoid P=%.1f slope=%.1f lo=%d hi=%d' % (period, slope, lo, hi)
    out = []
    level = hi if start_high else lo
    k = 0
    v = float(level)
    for n in range(total):
        while k < len(edges) and edges[k][0] <= n:
            level = hi if edges[k][1] else lo
            k += 1
        if v < level:
            v = min(level, v + slope)
        elif v > level:
            v = max(level, v - slope)
        sample = _clip(v)
        if abs(sample - 128) <= 6 and rng.random() < 0.5:
            sample = 128
        out.append(sample)
    return out, desc


STREAMS = [_square_stream, _square_stream, _pulse_stream, _sine_stream,
           _trapezoid_stream]


# ---------------------------------------------------------------- frames


def _flat_frame(rng, ml, jump_counts, zero):
    v = rng.choice([0, 128, 255, rng.randint(0, 255), ml, 255 - ml])
    return [v] * POINTS, 'flat %d' % v


def _noise_frame(rng, ml, jump_counts, zero):
    lo = rng.randint(0, 200)
    hi = rng.randint(lo, 255)
    return [rng.randint(lo, hi) for _ in range(POINTS)], 'noise %d..%d' % (lo,
                                                                          hi)


def _pulses_at(rng, positions, base, peak, width):
    out = [base] * POINTS
    for p in positions:
        for n in range(p, min(POINTS, p + width)):
            out[n] = peak
    return out


def _late_frame(rng, ml, jump_counts, zero):
    """Pulses whose skip lands near or past the scan guard."""
    first = rng.choice([POINTS - 16, POINTS - 17, POINTS - 17, POINTS - 18,
                        POINTS - 19, rng.randint(980, 1021),
                        rng.randint(6, 40)])
    second = first + rng.choice([12, 13, 13, 14, 20])
    base = rng.choice([128, 128, 0, 255, rng.randint(60, 190)])
    peak = rng.choice([255, 0])
    width = rng.choice([1, 2, 3, 3, 4, 5])
    positions = [first, second] if rng.random() < 0.7 else [first]
    if rng.random() < 0.25:
        positions.insert(0, rng.randint(6, 800))
    positions = sorted(set(p for p in positions if p < POINTS))
    return (_pulses_at(rng, positions, base, peak, width),
            'late pulses %s base=%d peak=%d w=%d' % (positions, base, peak,
                                                     width))


def _threshold_frame(rng, ml, jump_counts, zero):
    """Steps that miss or meet the zone and the jump by one count."""
    top, bottom = 255 - ml, ml
    out = []
    desc = []
    while len(out) < POINTS:
        kind = rng.choice(['max', 'min'])
        hold = rng.randint(1, 4)
        gap = rng.randint(3, 40)
        if kind == 'max':
            peak = rng.choice([top, top + 1, top + 1, 255])
            base = peak - jump_counts - rng.choice([0, 1, 1, -1])
            base = max(0, min(255, base))
            lead = rng.choice([[], [base + (peak - base) // 2]])
        else:
            peak = rng.choice([bottom, bottom - 1, bottom - 1, 0])
            base = peak + jump_counts + rng.choice([0, 1, 1, -1])
            base = max(0, min(255, base))
            lead = rng.choice([[], [base - (base - peak) // 2]])
        out += [base] * gap + lead + [peak] * hold
        if len(desc) < 4:
            desc.append('%s %d->%d x%d' % (kind, base, peak, hold))
    return out[:POINTS], 'threshold ' + ', '.join(desc)


def _double_pulse_frame(rng, ml, jump_counts, zero):
    """Two maxima and two minima with spacings close to each other."""
    if rng.random() < 0.4:
        # spacings exactly 2 % apart, both ways round
        sp_min = rng.choice([50, 100, 150, 200, 250, 300, 350])
        sp_max = sp_min + rng.choice([1, -1]) * sp_min // 50
        if rng.random() < 0.5:
            sp_min, sp_max = sp_max, sp_min
    else:
        sp_max = rng.randint(14, 480)
        sp_min = sp_max + rng.choice([0, 1, 2, 3, -1, -2, -3,
                                      rng.randint(-40, 40)])
        sp_min = max(13, sp_min)
    return _double_pulses(rng, sp_max, sp_min)


def _double_pulses(rng, sp_max, sp_min):
    a = rng.randint(6, 200)
    b = a + rng.randint(1, 200)
    if rng.random() < 0.5:
        a, b = b, a
    out = [128] * POINTS
    for p in (a, a + sp_max):
        if p < POINTS - 3:
            for n in range(p, min(POINTS, p + 3)):
                out[n] = 255
    for p in (b, b + sp_min):
        if p < POINTS - 3:
            for n in range(p, min(POINTS, p + 3)):
                out[n] = 0
    return out, 'double pulses max %d+%d min %d+%d' % (a, sp_max, b, sp_min)


def _zc_frame(rng, ml, jump_counts, zero):
    """Zero-crossing specials: wiggles that do not confirm, confirmation at
    the window's last point, a second crossing near the frame end."""
    top, bottom = 255 - ml, ml
    start_low = rng.random() < 0.5
    lo_zone = rng.choice([0, bottom - 1])
    hi_zone = rng.choice([255, top + 1])
    near = rng.choice([bottom, top])
    out = [lo_zone if start_low else hi_zone] * rng.randint(6, 60)
    cross_level = rng.choice([129, 200, 128, 140]) if start_low else \
        rng.choice([127, 50, 128, 100])
    # first crossing
    out += [128] * rng.randint(0, 2) + [cross_level] * rng.randint(1, 6)
    out += [hi_zone if start_low else lo_zone] * rng.randint(1, 30)
    n_cand = rng.randint(1, 4)
    for _ in range(n_cand):
        out += [lo_zone if start_low else hi_zone] * rng.randint(1, 15)
        to_cross = rng.randint(1, 22)
        beyond = rng.choice([hi_zone if start_low else lo_zone, near,
                             rng.randint(0, 255)])
        ramp_from = out[-1]
        for k in range(to_cross):
            out.append(_clip(ramp_from + (128 - ramp_from) * (k + 1) /
                             to_cross))
        out += [beyond] * rng.randint(1, 25)
    if rng.random() < 0.6:
        # push a candidate to the last points of the frame
        late = rng.randint(POINTS - 25, POINTS - 2)
        if late > len(out):
            out += [out[-1] if out else 128] * (late - len(out))
        out = out[:late]
        out += [lo_zone if start_low else hi_zone] * rng.randint(1, 4)
        out += [rng.choice([128, 129, 127, 200, 50])] * rng.randint(0, 6)
    fill = rng.choice([128, lo_zone, hi_zone, near])
    out += [fill] * (POINTS - len(out))
    return out[:POINTS], 'zc special %s' % ('low-first' if start_low else
                                            'high-first')


def _referee_pair(rng):
    """Two frames: the first sets the previous spacing (a mean, so possibly
    a half), the second has spacings more than 2 % apart that lie equally
    far from it, or one count off that."""
    base = rng.randint(30, 300)
    first_min = base + rng.choice([0, 1])
    prev = Fraction(base + first_min, 2)
    k = rng.randint(max(2, base // 40 + 2), max(3, base // 8))
    new_min = base - k
    new_max = int(2 * prev - new_min) + rng.choice([0, 0, 0, 1, -1])
    if rng.random() < 0.5:
        new_min, new_max = new_max, new_min
    frames = []
    for sp_max, sp_min in ((base, first_min), (new_max, new_min)):
        a = rng.randint(6, 60)
        b = a + sp_max // 2
        out = [128] * POINTS
        for p, v in ((a, 255), (a + sp_max, 255), (b, 0), (b + sp_min, 0)):
            for n in range(p, p + 3):
                out[n] = v
        frames.append(out)
    return frames, 'referee: %d/%d then %d/%d' % (base, first_min, new_max,
                                                  new_min)


def _hires_sensitive_frame(rng, falling):
    """A frame with two confirmed crossings whose interpolated times give a
    period that single-precision steps round differently from double."""
    def t_single(c, a, b):
        return f32(f32(float(c - 1)) + f32(f32(a - 128.0) / f32(a - b)))

    def t_double(c, a, b):
        return (c - 1) + (a - 128.0) / (a - b)

    pick = None
    for _ in range(1500):
        c1 = rng.randint(20, 500)
        lead = rng.randint(3, 15)
        c2 = c1 + rng.randint(14 + lead, 500)
        if c2 > POINTS - 4:
            continue
        if falling:
            a1, b1 = rng.randint(128, 255), rng.randint(0, 127)
            a2, b2 = rng.randint(128, 255), rng.randint(0, 127)
        else:
            a1, b1 = rng.randint(0, 128), rng.randint(129, 255)
            a2, b2 = rng.randint(0, 128), rng.randint(129, 255)
        pick = (c1, a1, b1, c2, a2, b2, lead)
        single = f32(t_single(c2, a2, b2) - t_single(c1, a1, b1)) / 256
        double = (t_double(c2, a2, b2) - t_double(c1, a1, b1)) / 256
        if pattern_text(single, 4, False) != pattern_text(double, 4, False):
            break
    c1, a1, b1, c2, a2, b2, lead = pick
    start, away = (255, 0) if falling else (0, 255)
    out = [start] * POINTS
    out[c1 - 1], out[c1] = a1, b1
    for n in range(c1 + 1, c2 - 1 - lead):
        out[n] = away
    out[c2 - 1], out[c2] = a2, b2
    for n in range(c2 + 1, POINTS):
        out[n] = away
    return out, 'hi-res sensitive c1=%d (%d,%d) c2=%d (%d,%d)' % (
        c1, a1, b1, c2, a2, b2)


def _edge_frame(rng, ml, jump_counts, zero):
    """Steps of 220 and 221 counts for the results file's edge scan, at the
    frame start, in the middle and in the last points."""
    level = rng.choice([0, 10, 240, 255])
    out = []
    marks = []
    spots = sorted(rng.sample([0, 1, 2, 3, rng.randint(4, 300),
                               rng.randint(300, 700), rng.randint(700, 1000),
                               1012, 1016, 1017, 1018, 1019, 1020, 1021], 5))
    for spot in spots:
        out += [level] * (spot + 1 - len(out))
        if len(out) > POINTS:
            break
        size = rng.choice([220, 221, 221, 255])
        if level >= 128:
            level = max(0, level - size)
        else:
            level = min(255, level + size)
        via = rng.random() < 0.3
        if via:
            # reach the new level over two points, so only the two-apart
            # difference can be large enough
            out.append((out[-1] + level) // 2)
        marks.append('%d%s' % (spot, '~' if via else ''))
    out += [level] * (POINTS - len(out))
    return out[:POINTS], 'edges at %s' % ','.join(marks)


SPECIALS = [_edge_frame, _edge_frame, _flat_frame, _noise_frame, _late_frame,
            _late_frame, _threshold_frame, _threshold_frame,
            _double_pulse_frame, _zc_frame, _zc_frame]


# ---------------------------------------------------------------- file


def _format_file(rng, case, frames_bytes, n_frames):
    style = rng.choices(['plain', 'lf', 'cr', 'blanks', 'halves'],
                        [10, 2, 1, 1, 1])[0]
    eol = {'lf': '\n', 'cr': '\r'}.get(style, '\r\n')

    def num(v):
        if style == 'blanks':
            return ' ' * rng.randint(0, 3) + str(v) + ' ' * rng.randint(0, 3)
        if style == 'halves' and rng.random() < 0.05:
            # x.5 rounds to the even neighbour; stay inside 0..255
            if v % 2 == 0 and v < 255:
                return '%d.5' % v
            if v % 2 == 0 and v > 0:
                return '%d.5' % (v - 1)
            return ' %d.4 ' % v if v < 255 else ' 254.9 '
        return ' %d ' % v

    last = n_frames - 1
    head_kind = rng.choices(['exact', 'short', 'surplus', 'negative',
                             'half', 'invalid'], [30, 4, 2, 1, 1, 1])[0]
    head = num(last)
    lines = []
    for fb in frames_bytes:
        lines.extend(num(v) for v in fb)
    if head_kind == 'short':
        # the file ends before the frames line 1 announces
        cut = rng.choice([len(lines), rng.randint(0, len(lines)),
                          rng.randint(0, 4096)])
        cut = min(cut, len(lines))
        head = num(last + rng.randint(0, 2)) if cut < len(lines) else \
            num(last + rng.randint(1, 2))
        lines = lines[:cut]
        case.description.append('ends early after %d samples' % cut)
    elif head_kind == 'surplus' and last >= 1:
        head = num(last - 1)
        case.description.append('announces one frame less')
    elif head_kind == 'negative':
        head = num(-rng.randint(1, 3)).replace(' -', '-')
        case.description.append('negative line 1')
    elif head_kind == 'half':
        # n.5 rounds to the even neighbour
        half = last - 1 if last % 2 == 1 else last
        head = '%d.5' % half if half >= 0 else num(last)
        case.description.append('line 1 %s' % head.strip())
    elif head_kind == 'invalid':
        bad = rng.choice(['256', '255.5', '-1', '12a', 'x', '1001'])
        if bad == '1001':
            head = '1001'
        elif lines:
            lines[rng.randrange(len(lines))] = bad
        case.description.append('invalid value %r' % bad)
    text = head + eol + ''.join(line + eol for line in lines)
    if rng.random() < 0.05 and text.endswith(eol):
        text = text[:-len(eol)]
        case.description.append('no final line end')
    case.description.insert(0, 'style %s' % style)
    return text.encode('latin-1')


def make_case(seed, Settings):
    rng = random.Random(seed)
    case = Case(seed)
    ml, jump_counts, zero, hires = _pick_settings(rng, case, Settings)
    n_frames = rng.choices([1, 2, 3, 4, 5, 6, 8, 12], [2, 3, 3, 3, 3, 2, 2,
                                                       1])[0]
    total = n_frames * POINTS
    stream_fn = rng.choice(STREAMS)
    if zero and rng.random() < 0.5:
        stream_fn = rng.choice([_sine_stream, _trapezoid_stream,
                                _square_stream])
    stream, desc = stream_fn(rng, total, ml, jump_counts)
    case.description.append(desc)
    firsts = [stream[f * POINTS:(f + 1) * POINTS] for f in range(n_frames)]
    special_rate = rng.choice([0, 0.15, 0.4, 0.8])
    for f in range(n_frames):
        if rng.random() < special_rate:
            fn = rng.choice(SPECIALS)
            firsts[f], d = fn(rng, ml, jump_counts, zero)
            case.description.append('frame %d: %s' % (f, d))
    if hires and rng.random() < 0.5:
        for f in range(n_frames):
            if rng.random() < 0.6:
                firsts[f], d = _hires_sensitive_frame(rng, rng.random() < 0.5)
                case.description.append('frame %d: %s' % (f, d))
    if not zero and n_frames >= 2 and rng.random() < 0.3:
        for f in range(0, n_frames - 1, 2):
            if rng.random() < 0.7:
                (firsts[f], firsts[f + 1]), d = _referee_pair(rng)
                case.description.append('frames %d, %d: %s' % (f, f + 1, d))
    second_kind = rng.choice(['copy', 'noise', 'zero', 'inverse'])
    frames_bytes = []
    for first in firsts:
        fb = []
        for v in first:
            if second_kind == 'copy':
                w = v
            elif second_kind == 'noise':
                w = rng.randint(0, 255)
            elif second_kind == 'zero':
                w = 0
            else:
                w = 255 - v
            fb.append(v)
            fb.append(w)
        frames_bytes.append(fb)
    case.raw = _format_file(rng, case, frames_bytes, n_frames)

    texts = [str(rng.randint(0, n_frames + 1)), str(rng.randint(-5, 3)),
             '0', str(n_frames - 1), str(n_frames), '1100', '2.5', '3.5',
             '1 2', 'abc', ' 7x', '-0.4', '1e1', '+3']
    for _ in range(rng.randint(1, 3)):
        first = rng.choice(texts[:4] + texts[6:])
        last = rng.choice(texts)
        case.averages.append((first, last, rng.random() < 0.5))
    return case
