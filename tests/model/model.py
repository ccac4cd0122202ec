"""Independent reference model of the analysis core and the file commands.

Written from the behaviour the batch program promises, in plain Python, so
that its outputs can be compared byte for byte with frequency-counter-cli.
Widths matter: single-precision steps are rounded through struct, decimal
texts are rounded on the exact binary value.
"""

import re
import struct
from fractions import Fraction

FRAMES = 1001
ROW_BYTES = 4097
MID_LEVEL = 128
PULSE_SKIP = 12
CONFIRM_WINDOW = 20


def f32(x):
    """Round a Python float (double) to the nearest single-precision value."""
    return struct.unpack('<f', struct.pack('<f', x))[0]


def i16(x):
    """Wrap to a 16-bit signed integer, as an Integer variable holds it."""
    x &= 0xFFFF
    return x - 0x10000 if x >= 0x8000 else x


# ---------------------------------------------------------------- texts


def int_text(n):
    """A whole number on its own: a blank where the sign would go."""
    return ('-' if n < 0 else ' ') + str(abs(n))


# How often a decimal text met an exact tie, so a run can show that the
# away-from-zero rounding was exercised.
PATTERN_TIES = [0]


def pattern_text(value, decimals, count_ties=True):
    """The "#…#.0…0" patterns: no leading zero, fixed decimals, a tie rounds
    away from zero on the exact binary value; an integer part longer than
    the "#" run is written in full, so the run length does not matter."""
    exact = Fraction(value)
    magnitude = abs(exact) * 10 ** decimals
    whole = magnitude.numerator // magnitude.denominator
    if magnitude - whole >= Fraction(1, 2):
        if count_ties and magnitude - whole == Fraction(1, 2):
            PATTERN_TIES[0] += 1
        whole += 1
    int_part, frac_part = divmod(whole, 10 ** decimals)
    sign = '-' if exact < 0 and whole != 0 else ''
    return (sign + (str(int_part) if int_part else '') + '.' +
            str(frac_part).zfill(decimals))


def round_half_even(x):
    """Nearest whole number, ties to the even one, on the exact value."""
    exact = Fraction(x)
    floor = exact.numerator // exact.denominator
    rest = exact - floor
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and floor % 2 == 1):
        return floor + 1
    return floor


_LEADING_NUMBER = re.compile(r'[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?')


def leading_number(text):
    """The value of the leading number of a typed text; blanks, tabs and line
    feeds anywhere are ignored, text without a number reads as 0."""
    m = _LEADING_NUMBER.match(re.sub(r'[ \t\n\r]', '', text))
    return float(m.group(0)) if m else 0.0


def has_leading_number(text):
    """Whether a typed text begins with a number; the batch program refuses
    a frame number without one as a usage error."""
    return bool(_LEADING_NUMBER.match(re.sub(r'[ \t\n\r]', '', text)))


# ---------------------------------------------------------------- state


class Settings:
    """What the command line gives, before the Preferences refresh."""

    def __init__(self, consecutive=0, max_limit=0, jump=0, zero_crossing=0,
                 hi_res=0):
        self.consecutive = consecutive
        self.max_limit = max_limit
        self.jump = jump
        self.zero_crossing = zero_crossing
        self.hi_res = hi_res


class State:
    def __init__(self, settings=None):
        self.rows = {}  # frame -> bytearray(ROW_BYTES), zero until written
        self.frame_results = [0.0] * FRAMES
        self.current_frame = 0
        self.buffer_size = 1024
        self.quill_record_freq = 256.0
        self.consecutive_points = 0
        self.second_offset = 0
        self.third_offset = 0
        self.max_limit = 0
        self.jump = 0
        self.look_for_zero_crossing = 0
        self.use_hi_res = 0
        self.found_max = 0
        self.found_min = 0
        self.found_next_max = 0
        self.prev_pulse_spacing = 0.0  # always a single-precision value
        self.log = []
        self.hits = {}
        if settings is not None:
            self.consecutive_points = i16(settings.consecutive)
            self.max_limit = i16(settings.max_limit)
            self.jump = i16(settings.jump)
            self.look_for_zero_crossing = i16(settings.zero_crossing)
            self.use_hi_res = i16(settings.hi_res)
            self.update_consecutive()

    def hit(self, name):
        self.hits[name] = self.hits.get(name, 0) + 1

    def row(self, frame):
        r = self.rows.get(frame)
        if r is None:
            r = bytearray(ROW_BYTES)
            self.rows[frame] = r
        return r

    def update_consecutive(self):
        if self.consecutive_points == 0:
            self.consecutive_points = 3
        offsets = {3: (2, 4), 2: (2, 0), 1: (0, 0)}
        if self.consecutive_points in offsets:
            self.second_offset, self.third_offset = offsets[
                self.consecutive_points]
        if self.max_limit < 5 or self.max_limit > 40:
            self.max_limit = 5
        if self.jump < 30 or self.jump > 90:
            self.jump = 80

    # ------------------------------------------------------------ detector

    def _zones(self, s):
        top = 255 - self.max_limit
        bottom = self.max_limit
        o2, o3 = self.second_offset, self.third_offset

        def in_top(i):
            k = 2 * i
            return s[k] > top and s[k + o2] > top and s[k + o3] > top

        def in_bottom(i):
            k = 2 * i
            return s[k] < bottom and s[k + o2] < bottom and s[k + o3] < bottom

        return top, bottom, in_top, in_bottom

    def _pulse_scan(self, is_pulse):
        """First and second pulse of one kind; the skip after the first."""
        first = 0
        second = 0
        last = self.buffer_size - 3
        i = 6
        while i <= last:
            if is_pulse(i):
                if first == 0:
                    first = i
                    i += PULSE_SKIP
                    if i > self.buffer_size - 5:
                        self.hit('jump: skip past the guard')
                        break
                elif second == 0:
                    second = i
                    break
            i += 1
        return first, second

    def _jump_mode(self, s):
        _, _, in_top, in_bottom = self._zones(s)
        jump = self.jump

        def rise(i):
            k = 2 * i
            return (s[k] - s[k - 2] > jump or s[k] - s[k - 4] > jump
                    or s[k] - s[k - 6] > jump)

        def fall(i):
            k = 2 * i
            return (s[k - 2] - s[k] > jump or s[k - 4] - s[k] > jump
                    or s[k - 6] - s[k] > jump)

        found_max, found_next_max = self._pulse_scan(
            lambda i: in_top(i) and rise(i))
        found_min, found_next_min = self._pulse_scan(
            lambda i: in_bottom(i) and fall(i))
        self.found_max = found_max
        self.found_next_max = found_next_max
        self.found_min = found_min

        max_spacing = found_next_max - found_max
        min_spacing = found_next_min - found_min
        mismatch = 0.0
        if min_spacing > 0 and max_spacing > 0:
            mismatch = 100.0 * abs(1.0 - max_spacing / min_spacing)
            prev = self.prev_pulse_spacing
            if mismatch > 2 and prev > 0:
                dev_min = abs(Fraction(prev) - min_spacing)
                dev_max = abs(Fraction(prev) - max_spacing)
                if dev_min < dev_max:
                    self.hit('jump: referee picks min')
                elif dev_min == dev_max:
                    self.hit('jump: referee tie')
                else:
                    self.hit('jump: referee picks max')
                spacing = float(min_spacing if dev_min < dev_max
                                else max_spacing)
            else:
                self.hit('jump: mean (mismatch %s)' %
                         ('<= 2' if mismatch <= 2 else '> 2, no prev'))
                spacing = (min_spacing + max_spacing) * 0.5
        elif min_spacing > 0:
            self.hit('jump: min only')
            spacing = float(min_spacing)
        elif max_spacing > 0:
            self.hit('jump: max only')
            spacing = float(max_spacing)
        else:
            self.hit('jump: no spacing')
            spacing = 0.0
        return spacing, mismatch

    @staticmethod
    def _cross_time(s, c):
        a = f32(float(s[2 * (c - 1)]))
        b = f32(float(s[2 * c]))
        quotient = f32(f32(a - 128.0) / f32(a - b))
        return f32(f32(float(c - 1)) + quotient)

    def _zero_crossing_mode(self, s):
        self.second_offset = 0
        top, bottom, in_top, in_bottom = self._zones(s)
        last = self.buffer_size - 3
        first_top = first_bottom = 0
        for i in range(6, last + 1):
            if in_top(i):
                first_top = i
                break
            if in_bottom(i):
                first_bottom = i
                break
        if first_bottom > 0:
            start = first_bottom
            crosses = lambda v: v > MID_LEVEL
            confirms = lambda v: v > top
            candidate = in_bottom
        elif first_top > 0:
            start = first_top
            crosses = lambda v: v < MID_LEVEL
            confirms = lambda v: v < bottom
            candidate = in_top
        else:
            self.hit('zc: no zone point')
            return 0.0
        self.hit('zc: rising' if first_bottom > 0 else 'zc: falling')

        first_cross = 0
        for i in range(start, last + 1):
            if crosses(s[2 * i]):
                first_cross = i
                break
        if first_cross == 0:
            self.hit('zc: no first crossing')
            return 0.0
        self.found_max = first_cross
        first_time = self._cross_time(s, first_cross)

        window_end_cap = self.buffer_size - 1
        cross_index = 0
        confirmed = False
        for i in range(first_cross + PULSE_SKIP, last + 1):
            if not candidate(i):
                continue
            cross_index = 0
            for j in range(i, min(i + CONFIRM_WINDOW, window_end_cap) + 1):
                v = s[2 * j]
                if cross_index == 0 and crosses(v):
                    cross_index = j
                if confirms(v):
                    confirmed = True
                    break
            else:
                if cross_index:
                    self.hit('zc: crossing in an unconfirmed window')
                if i + CONFIRM_WINDOW > window_end_cap:
                    self.hit('zc: window cut at the frame end')
            if confirmed:
                break
        if not confirmed:
            self.hit('zc: not confirmed')
            return 0.0
        self.hit('zc: confirmed')
        if self.use_hi_res == 1:
            self.hit('zc: hi-res spacing')
            second_time = self._cross_time(s, cross_index)
            return f32(second_time - first_time)
        return float(cross_index - first_cross)

    def analyze_frame(self):
        s = self.row(self.current_frame)
        zero_crossing = self.look_for_zero_crossing == 1
        if zero_crossing:
            spacing = self._zero_crossing_mode(s)
            mismatch = None
        else:
            spacing, mismatch = self._jump_mode(s)
        self.prev_pulse_spacing = f32(spacing)
        period = spacing / self.quill_record_freq
        if period < 0:
            period = 0.0
        line = (int_text(self.current_frame) + '   ' +
                pattern_text(period, 4) + '   ' +
                ('' if mismatch is None else pattern_text(mismatch, 3)))
        self.frame_results[self.current_frame] = period
        self.log.append(line)
        return line

    # ------------------------------------------------------------ files

    def read_raw(self, data):
        """Read a raw data file's bytes; returns the exit status the batch
        program gives (0 fine, 1 invalid, 3 ended early)."""
        parsed = parse_raw(data, self.buffer_size)
        if parsed is None:
            return 1
        last_frame, samples = parsed
        self.current_frame = 0
        self.log = []
        self.quill_record_freq = 256.0
        pos = 0
        ended_early = False
        for f in range(0, last_frame + 1):
            r = self.row(f)
            complete = True
            for j in range(self.buffer_size):
                if pos >= len(samples):
                    complete = False
                    break
                r[2 * j] = samples[pos]
                pos += 1
                if pos >= len(samples):
                    complete = False
                    break
                r[2 * j + 1] = samples[pos]
                pos += 1
            if not complete:
                ended_early = True
                break
            self.current_frame = f
            self.analyze_frame()
        return 3 if ended_early else 0

    def results_lines(self):
        """The lines of the results file, with their CRLF."""
        bs = self.buffer_size
        frame_factor = self.quill_record_freq / bs / 2
        sample_factor = 1 / frame_factor
        last = min(self.current_frame, FRAMES - 1)
        out = []
        for f in range(0, last + 1):
            s = self.row(f)
            approach = leave = approach_next = leave_next = 0
            i = 0
            while i <= bs - 1:
                if bs - 5 <= i < bs - 2 and max(
                        abs(s[2 * i] - s[2 * i + 2]),
                        abs(s[2 * i] - s[2 * i + 4])) > 220:
                    self.hit('rpm: step in the last five ignored')
                if i < bs - 5:
                    s0, s1, s2 = s[2 * i], s[2 * i + 2], s[2 * i + 4]
                    d1, d2 = s0 - s1, s0 - s2
                    if abs(d1) <= 220 and abs(d2) <= 220:
                        if abs(d1) == 220 or abs(d2) == 220:
                            self.hit('rpm: step of exactly 220')
                    elif d1 > 220 or d2 > 220:
                        if approach == 0:
                            if i == 0:
                                self.hit('rpm: fall at sample 0')
                            approach = i
                            i += 2
                        elif approach_next == 0:
                            approach_next = i
                    else:
                        if leave == 0:
                            leave = i
                            i += 2
                        elif leave_next == 0:
                            leave_next = i
                i += 1
            t = frame_factor * f + sample_factor * approach
            qrf = f32(self.quill_record_freq)
            if approach == 0:
                self.hit('rpm: rise only' if leave > 0 else 'rpm: no edge')
                r = 1.0 if leave > 0 else 0.0
            elif leave < approach:
                self.hit('rpm: rise before fall')
                r = 1.0
            elif approach_next > 0:
                self.hit('rpm: fall, rise, fall')
                dt = f32(f32(float(leave - approach)) / qrf)
                r = f32(60.0 / f32(dt * 2.0))
            else:
                self.hit('rpm: fall, rise')
                dt = f32(f32(f32(float(leave - approach)) / qrf) / f32(0.1))
                r = f32(60.0 / f32(dt * 2.0))
            out.append(int_text(f) + '   ' + pattern_text(t, 4) + '   ' +
                       pattern_text(r, 1) + '\r\n')
        return out

    def average_label(self, first_text, last_text, remove_bad):
        first = round_half_even(leading_number(first_text))
        if first < 0:
            first = 0
        last = round_half_even(leading_number(last_text))
        if last > self.current_frame - 1:
            last = self.current_frame - 1
        total = 0.0
        count = 0
        for f in range(first, last + 1):
            total += self.frame_results[f]
            count += 1
        avg = total / count if count >= 1 else 0.0
        result, shown = avg, count
        if remove_bad and avg > 0:
            kept_total = 0.0
            kept = 0
            for f in range(first, last + 1):
                v = self.frame_results[f]
                if abs(1 - v / avg) < 0.2:
                    kept_total += v
                    kept += 1
            result = kept_total / kept if kept else 0.0
            shown = kept
        return ('Avg: ' + pattern_text(result, 4) + '  (' + int_text(shown) +
                ' readings)')


# ---------------------------------------------------------------- raw file

_RAW_NUMBER = re.compile(r'[+-]?(\d+(\.\d*)?|\.\d+)$')


def _raw_value(token):
    if token.isascii() and token.isdigit():
        return int(token)
    if not _RAW_NUMBER.match(token):
        return None
    return round_half_even(Fraction(token))


class _BadRaw(Exception):
    pass


def _raw_values(text):
    """The numbers of a raw file in order: each is taken by skipping blanks
    and reading up to the next blank, comma or line end; one comma after a
    number ends it. An empty field (a comma with no number before it), a token
    that is not a number or a blank line followed by more text raises
    _BadRaw when reached; blank lines at the very end end the values."""
    i, n = 0, len(text)
    while True:
        while i < n and text[i] in ' \t':
            i += 1
        if i < n and text[i] == ',':
            raise _BadRaw()
        if i == n or text[i] in '\r\n':
            if text[i:].strip(' \t\r\n'):
                raise _BadRaw()
            return
        start = i
        while i < n and text[i] not in ' \t,\r\n':
            i += 1
        value = _raw_value(text[start:i])
        if value is None:
            raise _BadRaw()
        yield value
        while i < n and text[i] in ' \t':
            i += 1
        if i < n and text[i] == ',':
            i += 1
            while i < n and text[i] in ' \t':
                i += 1
        if text.startswith('\r\n', i):
            i += 2
        elif i < n and text[i] in '\r\n':
            i += 1


def parse_raw(data, buffer_size):
    """Validate a raw file as a whole. Returns (L, sample values needed) or
    None when the file is invalid. Values past the frames announced are not
    looked at."""
    values = _raw_values(data.decode('latin-1'))
    try:
        first = next(values, None)
        if first is None or first > 1000:
            return None
        wanted = max(0, (first + 1) * 2 * buffer_size)
        samples = []
        for v in values:
            if len(samples) == wanted:
                break
            if v < 0 or v > 255:
                return None
            samples.append(v)
    except _BadRaw:
        return None
    return first, samples


# ---------------------------------------------------------------- commands


def main(argv=None):
    """The model behind the batch program's file commands, for reproducing a
    reported difference by hand."""
    import argparse
    import sys
    ap = argparse.ArgumentParser(description=main.__doc__)
    ap.add_argument('command', choices=['analyze', 'results', 'average'])
    ap.add_argument('raw')
    ap.add_argument('--consecutive', type=int, default=0)
    ap.add_argument('--max-limit', type=int, default=0)
    ap.add_argument('--jump', type=int, default=0)
    ap.add_argument('--zero-crossing', choices=['yes', 'no'], default='no')
    ap.add_argument('--hi-res', choices=['yes', 'no'], default='no')
    ap.add_argument('--first', default='0')
    ap.add_argument('--last', default='0')
    ap.add_argument('--remove-bad', action='store_true')
    ap.add_argument('-o', '--output', default='-')
    args = ap.parse_args(argv)
    settings = Settings(args.consecutive, args.max_limit, args.jump,
                        1 if args.zero_crossing == 'yes' else 0,
                        1 if args.hi_res == 'yes' else 0)
    state = State(settings)
    with open(args.raw, 'rb') as f:
        status = state.read_raw(f.read())
    if status == 1:
        print('invalid raw file', file=sys.stderr)
        return 1
    out = sys.stdout.buffer
    if args.command == 'analyze':
        out.write(''.join(line + '\n' for line in state.log).encode())
    elif args.command == 'results':
        out.write(''.join(state.results_lines()).encode())
    else:
        out.write((state.average_label(args.first, args.last,
                                       args.remove_bad) + '\n').encode())
    return status


if __name__ == '__main__':
    raise SystemExit(main())
