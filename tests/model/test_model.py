#!/usr/bin/env python3
"""Hand-worked cases for the reference model itself, so that the differential
run compares the batch program with a model that is known to be right on
these, not just with a second opinion."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import model  # noqa: E402


def state_with(points, settings=None, frame=0):
    """A state whose frame holds the given first-channel points (a dict of
    point -> value on a background of 128)."""
    st = model.State(settings or model.Settings())
    st.current_frame = frame
    row = st.row(frame)
    for j in range(1024):
        row[2 * j] = 128
    for p, v in points.items():
        row[2 * p] = v
    return st


def pulses(max_at, min_at, width=3):
    pts = {}
    for p in max_at:
        for k in range(width):
            pts[p + k] = 255
    for p in min_at:
        for k in range(width):
            pts[p + k] = 0
    return pts


class Texts(unittest.TestCase):
    def test_patterns(self):
        t = model.pattern_text
        self.assertEqual(t(0.390625, 4), '.3906')
        self.assertEqual(t(0.125, 4), '.1250')
        self.assertEqual(t(0.15625, 4), '.1563')   # a tie goes away from 0
        self.assertEqual(t(-0.15625, 4), '-.1563')
        self.assertEqual(t(-0.00001, 4), '.0000')  # no sign on a zero
        self.assertEqual(t(123456.5, 4), '123456.5000')
        self.assertEqual(t(2.9126, 3), '2.913')
        self.assertEqual(t(0, 3), '.000')
        self.assertEqual(t(1.5, 4), '1.5000')
        self.assertEqual(t(153.6, 1), '153.6')
        self.assertEqual(model.int_text(12), ' 12')
        self.assertEqual(model.int_text(-5), '-5')

    def test_typed_numbers(self):
        n = model.leading_number
        self.assertEqual(n('45abc'), 45)
        self.assertEqual(n('4 5'), 45)
        self.assertEqual(n('abc'), 0)
        self.assertEqual(n('1e1'), 10)
        r = model.round_half_even
        self.assertEqual((r(2.5), r(3.5), r(44.5), r(45.5)), (2, 4, 44, 46))


class JumpMode(unittest.TestCase):
    def line(self, st):
        return st.analyze_frame()

    def test_worked_example_with_referee(self):
        st = state_with(pulses([200, 300], [250, 353]), frame=12)
        st.prev_pulse_spacing = 101.0
        self.assertEqual(self.line(st), ' 12   .3906   2.913')
        self.assertEqual(st.frame_results[12], 0.390625)

    def test_worked_example_without_previous(self):
        st = state_with(pulses([200, 300], [250, 353]))
        self.assertEqual(st.analyze_frame(), ' 0   .3965   2.913')
        self.assertEqual(st.prev_pulse_spacing, 101.5)

    def test_small_mismatch_takes_the_mean(self):
        st = state_with(pulses([200, 300], [250, 351]))
        st.prev_pulse_spacing = 500.0
        self.assertEqual(st.analyze_frame(), ' 0   .3926   .990')

    def test_two_percent_is_not_symmetric(self):
        # max 100, min 102: 1.96 %, the mean 101 whatever the previous
        st = state_with(pulses([200, 300], [250, 352]))
        st.prev_pulse_spacing = 102.0
        st.analyze_frame()
        self.assertEqual(st.prev_pulse_spacing, 101.0)
        # max 102, min 100: 2 % plus rounding, the previous spacing decides
        st = state_with(pulses([200, 302], [250, 350]))
        st.prev_pulse_spacing = 102.0
        st.analyze_frame()
        self.assertEqual(st.prev_pulse_spacing, 102.0)

    def test_exact_tie_goes_to_max(self):
        st = state_with(pulses([100, 200], [150, 260]))  # 100 and 110
        st.prev_pulse_spacing = 105.0
        st.analyze_frame()
        self.assertEqual(st.prev_pulse_spacing, 100.0)

    def test_constant_frame(self):
        st = state_with({})
        st.prev_pulse_spacing = 77.0
        self.assertEqual(st.analyze_frame(), ' 0   .0000   .000')
        self.assertEqual(st.prev_pulse_spacing, 0.0)

    def test_jump_and_zone_edges(self):
        # JumpCounts 80, MaxLimit 5: TopLimit 250
        base = 250 - 80
        st = state_with({100: base, 101: 250, 102: 250, 103: 250,
                         300: base, 301: 251, 302: 251, 303: 251},
                        model.Settings(1, 5, 80))
        for p in range(90, 100):
            st.row(0)[2 * p] = base
        for p in range(290, 300):
            st.row(0)[2 * p] = base
        st.analyze_frame()
        self.assertEqual((st.found_max, st.found_next_max), (301, 0))
        st = state_with({}, model.Settings(1, 5, 80))
        for p in range(90, 101):
            st.row(0)[2 * p] = 170   # 251 - 170 = 81, one more than 80
        st.row(0)[2 * 101] = 251
        st.analyze_frame()
        self.assertEqual(st.found_max, 101)
        st.row(0)[2 * 100] = 171     # exactly 80 from every point before
        for p in range(90, 100):
            st.row(0)[2 * p] = 171
        st.analyze_frame()
        self.assertEqual(st.found_max, 0)

    def test_skip_of_thirteen_and_late_first_pulse(self):
        st = state_with(pulses([100, 112], []))
        st.analyze_frame()
        self.assertEqual((st.found_max, st.found_next_max), (100, 0))
        st = state_with(pulses([100, 113], []))
        st.analyze_frame()
        self.assertEqual((st.found_max, st.found_next_max), (100, 113))
        st = state_with(pulses([1008, 1021], []))
        st.analyze_frame()
        self.assertEqual((st.found_max, st.found_next_max), (1008, 0))
        st = state_with(pulses([1007, 1020], []))
        st.analyze_frame()
        self.assertEqual((st.found_max, st.found_next_max), (1007, 1020))


class ZeroCrossing(unittest.TestCase):
    def worked(self, hires):
        pts = {p: 0 for p in range(6, 59)}     # first zone point: 6, bottom
        pts.update({59: 100, 60: 200})
        pts.update({p: 200 for p in range(61, 140)})
        pts.update({p: 0 for p in range(140, 150)})
        pts.update({150: 120, 151: 136, 152: 150, 153: 240})
        pts.update({p: 240 for p in range(154, 1024)})
        # Max Limit 20, so 240 lies above the top limit 235
        return state_with(pts, model.Settings(3, 20, 80, 1, 1 if hires else 0))

    def test_worked_example(self):
        st = self.worked(True)
        self.assertEqual(st.analyze_frame(), ' 0   .3563   ')  # 91.22 points
        self.assertAlmostEqual(st.prev_pulse_spacing, 91.22, places=4)
        self.assertEqual(st.found_max, 60)
        self.assertEqual(st.second_offset, 0)
        st = self.worked(False)
        self.assertEqual(st.analyze_frame(), ' 0   .3555   ')

    def test_unconfirmed_and_missing_crossings_give_no_reading(self):
        st = self.worked(False)
        for p in range(153, 1024):
            st.row(0)[2 * p] = 200       # never reaches the top zone again
        self.assertEqual(st.analyze_frame(), ' 0   .0000   ')
        st = state_with({p: 0 for p in range(6, 1024)},
                        model.Settings(3, 5, 80, 1, 0))
        st.found_max = -300              # scratch left by another operation
        self.assertEqual(st.analyze_frame(), ' 0   .0000   ')

    def test_window_stops_at_the_last_point(self):
        # falling: a top-zone candidate in the last points, nothing below
        # the bottom zone afterwards; the unwritten bytes must not confirm
        pts = {p: 255 for p in range(6, 40)}
        pts.update({p: 20 for p in range(40, 1015)})
        pts.update({p: 255 for p in range(1015, 1020)})
        pts.update({p: 100 for p in range(1020, 1024)})
        st = state_with(pts, model.Settings(1, 5, 80, 1, 0))
        self.assertEqual(st.analyze_frame(), ' 0   .0000   ')
        st.row(0)[2 * 1023] = 4          # below the bottom zone: confirmed
        # crossing at 1020, the first at 40: 980 points
        self.assertEqual(st.analyze_frame(), ' 0   3.8281   ')


class ResultsAndAverage(unittest.TestCase):
    def results_line(self, pts, frame):
        st = state_with({p: v for p, v in pts.items()}, frame=frame)
        st.current_frame = frame
        return st.results_lines()[-1]

    def test_results_examples(self):
        self.assertEqual(self.results_line({}, 0), ' 0   .0000   .0\r\n')
        rise = {p: 0 for p in range(0, 41)}
        rise.update({p: 255 for p in range(41, 1024)})
        self.assertEqual(self.results_line(rise, 1), ' 1   .1250   1.0\r\n')
        # a step is found at the sample two before the new level
        three = {p: 255 for p in range(0, 102)}
        three.update({p: 0 for p in range(102, 152)})
        three.update({p: 255 for p in range(152, 402)})
        three.update({p: 0 for p in range(402, 1024)})
        self.assertEqual(self.results_line(three, 3),
                         ' 3   800.3750   153.6\r\n')
        for p in range(402, 1024):
            three[p] = 255
        self.assertEqual(self.results_line(three, 3),
                         ' 3   800.3750   15.4\r\n')

    def test_step_of_220_is_no_edge(self):
        pts = {p: 230 for p in range(0, 102)}
        pts.update({p: 10 for p in range(102, 1024)})
        self.assertEqual(self.results_line(pts, 0), ' 0   .0000   .0\r\n')
        pts.update({p: 9 for p in range(102, 1024)})
        self.assertEqual(self.results_line(pts, 0), ' 0   800.0000   1.0\r\n')
        # the same fall at sample 0 stores 0; the next fall is taken instead
        pts = {0: 230, 1: 230, 2: 9, 3: 230, 4: 230}
        pts.update({p: 230 for p in range(5, 102)})
        pts.update({p: 9 for p in range(102, 1024)})
        self.assertEqual(self.results_line(pts, 0), ' 0   800.0000   1.0\r\n')

    def averaged(self, values, first, last, bad, current=None):
        st = model.State(model.Settings())
        for k, v in enumerate(values):
            st.frame_results[k] = v
        st.current_frame = len(values) if current is None else current
        return st.average_label(first, last, bad)

    def test_average_examples(self):
        vals = [0.5] * 19 + [1.0]
        self.assertEqual(self.averaged(vals, '0', '19', False),
                         'Avg: .5250  ( 20 readings)')
        self.assertEqual(self.averaged(vals, '0', '19', True),
                         'Avg: .5000  ( 19 readings)')
        self.assertEqual(self.averaged([0.25, 0.25, 0.25, 0.75], '0', '3',
                                       True), 'Avg: .0000  ( 0 readings)')
        self.assertEqual(self.averaged([12.5] * 40, '-5', '999', False),
                         'Avg: 12.5000  ( 40 readings)')
        self.assertEqual(self.averaged([1.0] * 5, '3', '2', False),
                         'Avg: .0000  ( 0 readings)')
        # 2.5 starts at 2, 3.5 at 4; the last frame is capped at 4
        self.assertEqual(self.averaged([0, 0, 1.0, 2.0, 4.0], '2.5', '9',
                                       False), 'Avg: 2.3333  ( 3 readings)')
        self.assertEqual(self.averaged([0, 0, 1.0, 2.0, 4.0], '3.5', '9',
                                       False), 'Avg: 4.0000  ( 1 readings)')
        self.assertEqual(self.averaged([0, 0, 1.0, 2.0, 4.0], '0', '9',
                                       False, current=3), 'Avg: .3333  ( 3 '
                         'readings)')


class RawReading(unittest.TestCase):
    def raw(self, head, frames, eol='\r\n'):
        lines = [head] + [' %d ' % v for f in frames for v in f]
        return (eol.join(lines) + eol).encode()

    def test_complete_short_and_negative(self):
        frame = [128] * 2048
        st = model.State(model.Settings())
        self.assertEqual(st.read_raw(self.raw(' 1 ', [frame, frame])), 0)
        self.assertEqual((st.current_frame, len(st.log)), (1, 2))
        st = model.State(model.Settings())
        data = self.raw(' 2 ', [frame, frame[:1000]])
        self.assertEqual(st.read_raw(data), 3)
        self.assertEqual((st.current_frame, len(st.log)), (0, 1))
        st = model.State(model.Settings())
        self.assertEqual(st.read_raw(self.raw('-1', [frame])), 0)
        self.assertEqual(st.log, [])
        st = model.State(model.Settings())
        self.assertEqual(st.read_raw(self.raw(' 0 ', [[256] + frame[1:]])),
                         1)
        self.assertEqual(st.read_raw(b' 1001 \r\n'), 1)
        self.assertEqual(st.read_raw(self.raw(' 0 ', [frame], '\n')), 0)

    def test_several_numbers_on_a_line(self):
        frame = ' , '.join(['7'] * 2047)
        st = model.State(model.Settings())
        self.assertEqual(st.read_raw(('0 7,' + frame + ',\r\n').encode()), 0)
        self.assertEqual(st.row(0)[:2048], bytearray([7] * 2048))
        for bad in ('0 7,,' + frame, ',0\r\n' + frame, '0\r\n\r\n7 ' + frame):
            self.assertEqual(model.State(model.Settings()).read_raw(bad.encode()), 1)


if __name__ == '__main__':
    unittest.main()
