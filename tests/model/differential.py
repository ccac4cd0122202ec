#!/usr/bin/env python3
"""Differential test: frequency-counter-cli against the reference model.

    differential.py BUILD_DIR [--cases N] [--seed S] [--case-seed X]
                    [--keep DIR] [--cli PATH] [--coverage]
                    [--require-coverage]

Each case is a generated raw recording with random detection settings. The
batch program's `analyze`, `results RAW -o -` and `average` outputs and exit
statuses are compared byte for byte with the model. A difference prints the
case seed, the settings and the first differing lines; `--case-seed X`
reruns that one case and `--keep DIR` leaves its raw file there.
"""

import argparse
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gen  # noqa: E402
import model  # noqa: E402


def _run(cli, args):
    proc = subprocess.run([cli] + args, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=60)
    return proc.stdout.decode('latin-1'), proc.returncode, \
        proc.stderr.decode('latin-1', 'replace')


def _first_differences(expected, actual, limit=4):
    exp = expected.splitlines(True)
    act = actual.splitlines(True)
    out = []
    for k in range(max(len(exp), len(act))):
        e = exp[k] if k < len(exp) else '<missing>'
        a = act[k] if k < len(act) else '<missing>'
        if e != a:
            out.append('    line %d\n      model: %r\n      cli:   %r' %
                       (k + 1, e, a))
            if len(out) >= limit:
                break
    return out


# Branches of the model that a default run must reach, so that a weakened
# generator cannot pass unnoticed.
REQUIRED = [
    'jump: max only', 'jump: min only', 'jump: mean (mismatch <= 2)',
    'jump: mean (mismatch > 2, no prev)', 'jump: referee picks max',
    'jump: referee picks min', 'jump: referee tie', 'jump: no spacing',
    'jump: skip past the guard',
    'zc: rising', 'zc: falling', 'zc: no zone point', 'zc: no first crossing',
    'zc: not confirmed', 'zc: confirmed', 'zc: hi-res spacing',
    'zc: window cut at the frame end', 'zc: crossing in an unconfirmed window',
    'rpm: no edge', 'rpm: rise only', 'rpm: rise before fall',
    'rpm: fall, rise, fall', 'rpm: fall, rise', 'rpm: step of exactly 220',
    'rpm: fall at sample 0', 'rpm: step in the last five ignored',
    'raw: complete', 'raw: invalid', 'raw: ended early', 'text: exact tie',
]


def _model_outputs(case, hits):
    """stdout and status of every command, from one model read of RAW."""
    state = model.State(case.settings)
    status = state.read_raw(case.raw)
    raw_kind = {0: 'raw: complete', 1: 'raw: invalid', 3: 'raw: ended early'}
    hits[raw_kind[status]] = hits.get(raw_kind[status], 0) + 1
    if status == 1:
        analyze = ('', 1)
        results = ('', 1)
        averages = [('', 1) for _ in case.averages]
    else:
        analyze = (''.join(line + '\n' for line in state.log), status)
        results = (''.join(state.results_lines()), status)
        averages = [(state.average_label(a, b, bad) + '\n', status)
                    for a, b, bad in case.averages]
    averages = [expected if model.has_leading_number(a) and
                model.has_leading_number(b) else ('', 2)
                for (a, b, _), expected in zip(case.averages, averages)]
    for name, n in state.hits.items():
        hits[name] = hits.get(name, 0) + n
    return analyze, results, averages


def run_case(cli, case, workdir, hits):
    raw_path = os.path.join(workdir, 'raw-%d.txt' % case.seed)
    with open(raw_path, 'wb') as f:
        f.write(case.raw)
    analyze, results, averages = _model_outputs(case, hits)
    commands = [(['analyze', raw_path] + case.options, analyze),
                (['results', raw_path, '-o', '-'] + case.options, results)]
    for (first, last, bad), expected in zip(case.averages, averages):
        args = ['average', raw_path, '--first=' + first, '--last=' + last]
        if bad:
            args.append('--remove-bad')
        commands.append((args + case.options, expected))
    problems = []
    for args, (exp_out, exp_status) in commands:
        out, status, err = _run(cli, args)
        if out != exp_out or status != exp_status:
            shown = ' '.join(a if a != raw_path else 'RAW' for a in args)
            text = ['  %s' % shown]
            if status != exp_status:
                text.append('    exit status: model %d, cli %d%s' %
                            (exp_status, status,
                             (' (stderr: %s)' % err.strip()[:200])
                             if err.strip() else ''))
            text += _first_differences(exp_out, out)
            problems.append('\n'.join(text))
    os.unlink(raw_path)
    return problems, len(commands)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[1])
    ap.add_argument('build_dir')
    ap.add_argument('--cli', help='the batch program (default: '
                    'BUILD_DIR/src/cli/frequency-counter-cli)')
    ap.add_argument('--cases', type=int, default=200)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--case-seed', type=int, action='append',
                    help='run only this case (may be repeated)')
    ap.add_argument('--keep', help='directory to keep failing raw files in')
    ap.add_argument('--max-report', type=int, default=5)
    ap.add_argument('--require-coverage', action='store_true',
                    help='fail when the cases miss a branch of the model')
    ap.add_argument('--coverage', action='store_true',
                    help='print how often each branch of the model ran')
    args = ap.parse_args()

    cli = args.cli or os.path.join(args.build_dir, 'src', 'cli',
                                   'frequency-counter-cli')
    if not os.access(cli, os.X_OK):
        print('no batch program at %s' % cli, file=sys.stderr)
        return 2

    if args.case_seed:
        seeds = args.case_seed
    else:
        rng = random.Random(args.seed)
        seeds = [rng.randrange(1 << 40) for _ in range(args.cases)]

    failed = 0
    commands = 0
    hits = {}
    model.PATTERN_TIES[0] = 0
    with tempfile.TemporaryDirectory(prefix='fc-model-') as workdir:
        for seed in seeds:
            case = gen.make_case(seed, model.Settings)
            problems, n = run_case(cli, case, workdir, hits)
            commands += n
            if problems:
                failed += 1
                if args.keep:
                    os.makedirs(args.keep, exist_ok=True)
                    with open(os.path.join(args.keep, 'raw-%d.txt' % seed),
                              'wb') as f:
                        f.write(case.raw)
                if failed <= args.max_report:
                    print('case seed %d  settings: %s' %
                          (seed, case.settings_text()))
                    print('  signal: ' + '; '.join(case.description[:6]))
                    print('  rerun: %s %s --case-seed %d --keep DIR' %
                          (sys.argv[0], args.build_dir, seed))
                    print('\n'.join(problems))
    hits['text: exact tie'] = model.PATTERN_TIES[0]
    if args.coverage:
        for name in sorted(hits):
            print('%8d  %s' % (hits[name], name))
    missed = [name for name in REQUIRED if not hits.get(name)]
    print('%d cases, %d commands: %d differ' % (len(seeds), commands, failed))
    if missed and (args.coverage or args.require_coverage):
        print('branches not reached: ' + ', '.join(missed))
        if args.require_coverage:
            return 1
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
