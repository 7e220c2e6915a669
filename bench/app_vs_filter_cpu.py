#!/usr/bin/env python3
"""CPU per card through the Printer Application and through the filter, in
one run, on the same page (the 643 x 1013 sample card).

    bench/app_vs_filter_cpu.py BUILD_DIR [CARDS]

Both print to the simulator with the test preload (no pauses). The filter's
CPU is the rusage of each rastertovkr process (wait4); the app's is the
growth of the server's CPU time over the jobs, read from /proc: its own
threads, the card workers it ran and reaped (one per job, and the
background status queries) and the worker starter, so its start-up is not
counted. The simulator's CPU is not
counted on either side. On a loaded machine run it more than once.
"""
import os
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

build = Path(sys.argv[1]).resolve()
cards = int(sys.argv[2]) if len(sys.argv) > 2 else 10
src = Path(__file__).resolve().parent.parent
nosleep = build / "tests/support/libvkr_nosleep.so"
sim = build / "sim/vkrsim"
rasterwrite = build / "sim/rasterwrite/vkr-rasterwrite"
tick = os.sysconf("SC_CLK_TCK")


def filter_cpu(work):
    """CPU seconds of each filter run printing the card."""
    raster = work / "card.ras"
    subprocess.run([rasterwrite, "-o", raster, "--input", src / "sim/samples/member-card.ppm"], check=True)
    env = dict(os.environ, PPD=str(src / "tests/data/test.ppd"), LD_PRELOAD=str(nosleep),
               VKR_TEST_TMPDIR=str(work))
    times = []
    for _ in range(cards):
        back_r, back_w = os.pipe()
        simp = subprocess.Popen([sim, "--reply-fd", str(back_w)], stdin=subprocess.PIPE,
                                pass_fds=(back_w,), stderr=subprocess.DEVNULL)
        os.close(back_w)
        with open(os.devnull, "w") as log:
            filt = subprocess.Popen([build / "filter/rastertovkr", "1", "user", "card", "1", "", raster],
                                    stdout=simp.stdin, stderr=log, env=env,
                                    preexec_fn=lambda: os.dup2(back_r, 3), pass_fds=(back_r,))
        simp.stdin.close()
        _, status, usage = os.wait4(filt.pid, 0)
        filt.returncode = os.waitstatus_to_exitcode(status)
        os.close(back_r)
        simp.wait()
        if filt.returncode != 0:
            sys.exit("the filter failed")
        times.append(usage.ru_utime + usage.ru_stime)
    return times


def process_cpu(pid):
    """User and system CPU seconds so far, all threads: the process's own and
    those of the children it has reaped."""
    fields = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
    return sum(int(f) for f in fields[11:13]) / tick, sum(int(f) for f in fields[13:15]) / tick


def server_cpu(pid):
    """The server's CPU so far: its own; that of its children, reaped (the
    card workers) or still running (the worker starter, whose copies are the
    card workers)."""
    own, reaped = process_cpu(pid)
    running = 0.0
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text().rsplit(")", 1)[1].split()
            if int(fields[1]) == pid:
                running += sum(process_cpu(int(stat.parent.name)))
        except (OSError, ValueError):
            pass
    return own, reaped + running


def app_cpu(work):
    """CPU seconds the server spent on the cards, in all."""
    pwg = work / "card.pwg"
    subprocess.run([rasterwrite, "-o", pwg, "--mode", "pwg", "--colorspace", "srgb", "--input",
                    src / "sim/samples/member-card.ppm"], check=True)
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    env = dict(os.environ, SNAP_COMMON=str(work))
    simp = subprocess.Popen([sim, "--listen", "0", "--port-file", work / "sim.port"])
    app = build / "app/vkr-printer-app"
    server = subprocess.Popen([app, "server", "-o", "server-port=%d" % port, "-o",
                               "state-file=%s" % (work / "state"), "-o", "spool-directory=%s" % work,
                               "-o", "log-file=%s" % (work / "app.log"), "-o", "log-level=error"],
                              env=dict(env, LD_PRELOAD=str(nosleep)), stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            if (work / "vkr-printer-app.sock").exists() and (work / "sim.port").exists():
                break
            time.sleep(0.1)
        time.sleep(0.5)
        sim_port = (work / "sim.port").read_text().strip()
        subprocess.run([app, "add", "-d", "card", "-v", "socket://127.0.0.1:" + sim_port, "-m", "vk4400"],
                       env=env, check=True)
        time.sleep(1)
        before = server_cpu(server.pid)
        # A PWG raster document is printed as it streams in: submit returns
        # once its job has ended, so no status polling adds to the count.
        for _ in range(cards):
            subprocess.run([app, "submit", "-d", "card", pwg], env=env, check=True, stdout=subprocess.DEVNULL)
        after = server_cpu(server.pid)
        out = subprocess.run([app, "jobs", "-d", "card"], env=env, capture_output=True, text=True).stdout
        if sum(1 for line in out.splitlines() if " completed " in line) != cards:
            sys.exit("not every app job completed:\n" + out)
        print("over the cards: server %.3f s, its card workers and their starter %.3f s" %
              (after[0] - before[0], after[1] - before[1]))
        return sum(after) - sum(before)
    finally:
        server.terminate()
        server.wait()
        simp.terminate()
        simp.wait()


with tempfile.TemporaryDirectory() as tmp:
    work = Path(tmp)
    (work / "f").mkdir()
    (work / "a").mkdir()
    load = os.getloadavg()[0]
    per_filter = filter_cpu(work / "f")
    app_total = app_cpu(work / "a")
    print("load average %.1f on %d cores" % (load, os.cpu_count()))
    print("filter: %.3f s CPU per card (mean of %d runs, min %.3f, max %.3f)" %
          (sum(per_filter) / len(per_filter), len(per_filter), min(per_filter), max(per_filter)))
    print("app:    %.3f s CPU per card (%d cards, %.2f s in all, server and card workers)" %
          (app_total / cards, cards, app_total))
    print("app / filter: %.2f" % (app_total / cards / (sum(per_filter) / len(per_filter))))
