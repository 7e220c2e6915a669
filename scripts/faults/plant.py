#!/usr/bin/env python3
"""Plants the faults of planted.txt one at a time and tells which the test suite catches.

A maintainer's tool, not part of the test command: each fault costs a rebuild and up to a
suite run. For every fault the text is replaced in a clean checkout, the normal build is
rebuilt and its tests run (quick tests first, then the slow end-to-end ones); a fault they
leave alive goes through the sanitizer build's tests as the README's test command runs them.
The file is put back before the next fault. Both builds' unchanged suites must pass before
any fault is planted. A fault caught only by a test labelled timing (one that waits on real
processes and clocks) runs that test twice more, and counts as killed only if it fails all
three times. Results go to standard output and, one line a fault, to --out (tab-separated:
id, verdict, build, test, seconds).

  scripts/faults/plant.py                    # every fault, in this checkout
  scripts/faults/plant.py --only F03,F16     # some faults
  scripts/faults/plant.py --check            # every fault's text found exactly once
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# The slow end-to-end tests run after the quick ones, so that a fault the quick tests catch
# costs no more than those.
SLOW = r'^(cups\.PrintThroughCupsd|cups\.MainJob.*|app\.(print|everywhere|cups))$'

# The test labels (one a test folder) of each part's own tests.
AREA_LABELS = {'sim': '^(sim|cups)$'}


def parse_faults(path):
    """Reads the fault list: id, area, description, file, old and new text."""
    faults, current = [], None
    with open(path, encoding='utf-8') as f:
        for line in f:
            line = line.rstrip('\n')
            if not line.strip() or line.lstrip().startswith('#'):
                continue
            if not line[0].isspace():
                ident, area, what = (line.split(None, 2) + ['', ''])[:3]
                current = {'id': ident, 'area': area, 'what': what}
                faults.append(current)
                continue
            key, _, value = line.strip().partition(':')
            if current is None or key not in ('file', 'old', 'new'):
                sys.exit('planted.txt: cannot read line: ' + line)
            current[key] = value.strip()
    for fault in faults:
        if not fault.get('file') or not fault.get('old') or 'new' not in fault:
            sys.exit('planted.txt: %s lacks file, old or new' % fault['id'])
    return faults


def run(cmd, cwd, env=None, log=None):
    """Runs a command; returns its exit status and its output."""
    proc = subprocess.run(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, errors='replace')
    if log is not None:
        log.write('$ %s\n%s\n' % (' '.join(cmd), proc.stdout))
        log.flush()
    return proc.returncode, proc.stdout


def first_failure(output):
    """The first failed test that ctest names."""
    match = re.search(r'^\s*\d+ - (\S+) \(', output.split('The following tests FAILED:')[-1],
                      re.M)
    return match.group(1) if match else '?'


def without(stage, test):
    """A ctest stage's arguments with one more test excluded."""
    name = '^%s$' % re.escape(test)
    if '-E' in stage:
        at = stage.index('-E') + 1
        return stage[:at] + ['(%s)|(%s)' % (stage[at], name)] + stage[at + 1:]
    return stage + ['-E', name]


class Suite:
    """One build of the checkout and its tests, as the test command configures it."""

    def __init__(self, tree, name, cmake_args, exclude, log):
        self.tree, self.dir, self.exclude, self.log = tree, os.path.join(tree, name), exclude, log
        self.cmake_args = cmake_args
        self.configured = False

    def build(self):
        if not self.configured:
            launcher = []
            if shutil.which('ccache'):
                launcher = ['-DCMAKE_C_COMPILER_LAUNCHER=ccache',
                            '-DCMAKE_CXX_COMPILER_LAUNCHER=ccache']
            code, out = run(['cmake', '-S', self.tree, '-B', self.dir,
                             '-DCMAKE_BUILD_TYPE=RelWithDebInfo', '-DVKR_BUILD_BENCH=OFF']
                            + launcher + self.cmake_args, self.tree, log=self.log)
            if code != 0:
                sys.exit('cmake failed in %s:\n%s' % (self.dir, out[-3000:]))
            self.configured = True
        code, _ = run(['cmake', '--build', self.dir, '-j%d' % os.cpu_count()], self.tree,
                      log=self.log)
        return code == 0

    def timing_tests(self):
        """The names of the tests labelled timing."""
        if not hasattr(self, '_timing'):
            _, out = run(['ctest', '--test-dir', self.dir, '-N', '-L', 'timing'], self.tree)
            self._timing = set(re.findall(r'Test\s+#\d+: (\S+)', out))
        return self._timing

    def fails_every_time(self, test, env=None, times=2):
        """Whether a test fails each of `times` more runs."""
        for _ in range(times):
            code, _ = run(['ctest', '--test-dir', self.dir, '--timeout', '600', '-R',
                           '^%s$' % re.escape(test)], self.tree, env=env, log=self.log)
            if code == 0:
                return False
        return True

    def tests(self, only, area):
        """None when every test passes, else the first failed test. The unit tests of the
        fault's own part run first: they are quick and most often the ones that fail."""
        env = dict(os.environ)
        env.setdefault('ASAN_OPTIONS', 'strict_string_checks=1')
        env.setdefault('UBSAN_OPTIONS', 'print_stacktrace=1:halt_on_error=1')
        base = ['ctest', '--test-dir', self.dir, '-j%d' % os.cpu_count(), '--timeout', '600',
                '--stop-on-failure']
        skip = ['-E', self.exclude] if self.exclude else []
        if only:
            stages = [['-R', only] + skip]
        else:
            quick = SLOW if not self.exclude else '(%s)|(%s)' % (SLOW, self.exclude)
            label = AREA_LABELS.get(area, area)
            stages = [['-L', label, '-E', quick], ['-LE', label, '-E', quick],
                      ['-R', SLOW] + skip]
        for stage in stages:
            while True:
                code, out = run(base + stage, self.tree, env=env, log=self.log)
                if code == 0 or 'No tests were found' in out:
                    break
                failed = first_failure(out)
                if area == 'none' or failed not in self.timing_tests() or \
                        self.fails_every_time(failed, env):
                    return failed
                # Caught once by a test that waits on the clock: not a kill; the
                # stage goes on without it.
                stage = without(stage, failed)
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--tree', default=os.path.dirname(os.path.dirname(HERE)),
                        help='checkout to plant in (default: this one)')
    parser.add_argument('--faults', default=os.path.join(HERE, 'planted.txt'))
    parser.add_argument('--only', help='comma-separated fault ids')
    parser.add_argument('--tests', help='ctest -R regex: run only these tests (a quick look)')
    parser.add_argument('--no-sanitize', action='store_true',
                        help='do not try the sanitizer build on faults left alive')
    parser.add_argument('--check', action='store_true', help='only check the fault texts')
    parser.add_argument('--out', help='tab-separated results, one line a fault')
    args = parser.parse_args()
    # A stopped run still puts the planted file back.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit('stopped'))

    tree = os.path.abspath(args.tree)
    faults = parse_faults(args.faults)
    if args.only:
        wanted = set(args.only.split(','))
        faults = [f for f in faults if f['id'] in wanted]
    for fault in faults:
        with open(os.path.join(tree, fault['file']), encoding='utf-8') as f:
            found = f.read().count(fault['old'])
        if found != 1:
            sys.exit('%s: its text is found %d times in %s' % (fault['id'], found, fault['file']))
    if args.check:
        print('%d faults, each text found once' % len(faults))
        return
    code, status = run(['git', 'status', '--porcelain', '--untracked-files=no'], tree)
    if code != 0 or status.strip():
        sys.exit('the checkout must be a clean git tree: ' + status)

    log = open(os.path.join(tree, 'build-faults.log'), 'w')
    normal = Suite(tree, 'build-faults', [], None, log)
    sanitized = Suite(tree, 'build-faults-asan',
                      ['-DVKR_SANITIZE=ON', '-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG',
                       '-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG'], r'^cups\.', log)
    # A suite that fails unchanged would count every fault as caught: both builds first.
    for suite in [normal] if args.no_sanitize else [normal, sanitized]:
        if not suite.build():
            sys.exit('the unchanged checkout does not build in %s; see build-faults.log' % suite.dir)
        failed = suite.tests(args.tests, 'none')
        if failed is not None:
            sys.exit('the unchanged suite fails in %s (%s); see build-faults.log' % (suite.dir, failed))
    out = open(args.out, 'w') if args.out else None
    killed = 0
    for fault in faults:
        path = os.path.join(tree, fault['file'])
        with open(path, encoding='utf-8') as f:
            original = f.read()
        start = time.time()
        verdict, where, test = 'alive', '-', '-'
        try:
            with open(path, 'w', encoding='utf-8') as f:
                f.write(original.replace(fault['old'], fault['new'], 1))
            suites = [normal] if args.no_sanitize else [normal, sanitized]
            for suite in suites:
                if not suite.build():
                    verdict, where, test = 'unbuilt', os.path.basename(suite.dir), '-'
                    break
                failed = suite.tests(args.tests, fault['area'])
                if failed is not None:
                    verdict, where, test = 'killed', os.path.basename(suite.dir), failed
                    break
        finally:
            with open(path, 'w', encoding='utf-8') as f:
                f.write(original)
        seconds = time.time() - start
        killed += verdict == 'killed'
        line = '\t'.join([fault['id'], verdict, where, test, '%.0f' % seconds])
        print('%s  %-7s %-18s %s  (%s)' % (fault['id'], verdict, test, where, fault['what']),
              flush=True)
        if out:
            out.write(line + '\n')
            out.flush()
    print('%d of %d faults killed (%.1f %%)' % (killed, len(faults), 100.0 * killed / len(faults)))
    normal.build()  # leave the build as the checkout is


if __name__ == '__main__':
    main()
