#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
"""Time each build of ex2-client against the floor of a spawn and sh.

usage: bench.py NAME=PROGRAM... floor=FLOOR

BENCH_RUNS sets the rounds of a repeat (1000), BENCH_REPEATS the repeats
(5), BENCH_SEED the seed of the shuffles (a random one, printed).

Each PROGRAM, the FLOOR (a program making only the client's system calls)
and sh -c 'printf hello >fifo-2' send hello through one fifo-2, which the
bench holds open and drains between runs. Every round spawns each command once, in an order shuffled
anew, so that no command always follows the same one and whatever else
the machine does falls on all of them alike. Per command: the median wall
time from spawn to reaped and its ratio to the floor's, as the median of
the repeats' medians and their spread (lowest to highest); instructions
per run (callgrind, when valgrind is installed); and the peak resident
memory up to the open of fifo-2 (seen while the command waits there for a
reader). Every command runs in an empty environment, as `env -i` gives.
The reader must receive exactly one hello per run, or the bench fails.
"""

import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WARMUP = 50
SH = ("sh -c printf", ["/bin/sh", "-c", "printf hello >fifo-2"])


def die(message):
    sys.exit(f"bench: {message}")


def callgrind(argv, env):
    """Instructions from exec to exit, or None without valgrind."""
    valgrind = shutil.which("valgrind")
    if valgrind is None:
        return None
    run = subprocess.run(
        [valgrind, "--tool=callgrind", "--callgrind-out-file=/dev/null", *argv],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
        check=True)
    found = re.search(r"Collected : (\d+)", run.stderr)
    if found is None:
        die(f"callgrind gave no count for {argv[0]}:\n{run.stderr}")
    return int(found.group(1))


def resident_at_open(argv, env):
    """VmHWM in KB of a command seen waiting in its open of fifo-2 (in the
    working directory, with no reader yet), or None where this kernel does
    not name wait channels."""
    pid = os.posix_spawn(argv[0], argv, env)
    kb = None
    for _ in range(500):
        with open(f"/proc/{pid}/wchan") as f:
            if f.read() == "wait_for_partner":
                with open(f"/proc/{pid}/status") as status:
                    kb = int(re.search(r"VmHWM:\s*(\d+) kB", status.read()).group(1))
                break
        time.sleep(0.01)
    reader = os.open("fifo-2", os.O_RDONLY | os.O_NONBLOCK)
    _, status = os.waitpid(pid, 0)
    got = os.read(reader, 16)
    os.close(reader)
    if status != 0 or got != b"hello":
        die(f"{argv[0]} sent {got!r} and ended with wait status {status} to a late reader")
    return kb


def main():
    commands = []
    for arg in sys.argv[1:]:
        name, sep, path = arg.partition("=")
        if not sep or not path:
            die(f"not NAME=PROGRAM: {arg!r}\n{__doc__}")
        commands.append((name, [os.path.abspath(path)]))
    if not commands or commands[-1][0] != "floor":
        die(f"the floor comes last\n{__doc__}")
    commands.append(SH)
    rounds = int(os.environ.get("BENCH_RUNS", "1000"))
    repeats = int(os.environ.get("BENCH_REPEATS", "5"))
    seed = int(os.environ.get("BENCH_SEED", str(int.from_bytes(os.urandom(4), "big"))))
    shuffle = random.Random(seed).shuffle

    scratch = tempfile.mkdtemp(prefix="ex2-bench.")
    os.chdir(scratch)
    os.mkfifo("fifo-2")
    # The bench is the reader, and drains the FIFO after each run, outside
    # the time taken: a reader process of its own would wake at every
    # write, and its cost would fall on every command alike, hiding their
    # differences. Read-write, so that no open waits; not inherited by
    # the commands (Python's descriptors never are).
    fifo = os.open("fifo-2", os.O_RDWR | os.O_NONBLOCK)
    received = bytearray()

    def drain():
        while True:
            try:
                chunk = os.read(fifo, 65536)
            except BlockingIOError:
                return
            received.extend(chunk)
    # The commands' stdout is /dev/null; this one's own is kept aside.
    console = os.dup(1)
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 1)
    os.close(null)

    env = {}
    # Per command, the median of each repeat, and its ratio to the floor's.
    medians = {name: [] for name, _ in commands}
    ratios = {name: [] for name, _ in commands}
    sent = 0
    order = list(commands)
    for _ in range(repeats):
        times = {name: [] for name, _ in commands}
        for r in range(WARMUP + rounds):
            shuffle(order)
            for name, argv in order:
                start = time.perf_counter_ns()
                pid = os.posix_spawn(argv[0], argv, env)
                _, status = os.waitpid(pid, 0)
                took = time.perf_counter_ns() - start
                sent += 1
                drain()
                if status != 0:
                    die(f"{name} ended with wait status {status}")
                if r >= WARMUP:
                    times[name].append(took / 1000)
        floor = statistics.median(times["floor"])
        for name, _ in commands:
            medians[name].append(statistics.median(times[name]))
            ratios[name].append(medians[name][-1] / floor)

    os.mkdir("held")
    os.chdir("held")
    os.mkfifo("fifo-2")
    resident = {name: statistics.median(resident_at_open(argv, env) or 0 for _ in range(5))
                for name, argv in commands}
    os.chdir("..")

    instructions = {name: callgrind(argv, env) for name, argv in commands}
    sent += len(commands) if instructions[SH[0]] is not None else 0
    # What each environment variable costs the first build's start-up.
    with_vars = None
    if instructions[commands[0][0]] is not None:
        many = {f"EX2_BENCH_{i:02}": "x" * 17 for i in range(20)}
        with_vars = callgrind(commands[0][1], many)
        sent += 1

    drain()
    os.dup2(console, 1)
    os.close(fifo)
    got = bytes(received)
    shutil.rmtree(scratch)
    if got != b"hello" * sent:
        die(f"the reader received {len(got)} bytes, not {sent} whole hello payloads")

    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    print(f"{os.uname().sysname} {os.uname().release}; {os.cpu_count()} cores, {cpu}")
    print(f"{repeats} repeats of {rounds} rounds, each after {WARMUP} warm-up rounds; "
          f"every round in a new shuffled order (BENCH_SEED={seed}); empty environment")
    print(f"{'command':<18} {'median µs':>9} {'(spread)':>15} {'vs floor':>8} {'(spread)':>13} "
          f"{'instructions':>12} {'KB at open':>10}")
    for name, _ in commands:
        count = instructions[name]
        print(f"{name:<18} {statistics.median(medians[name]):>9.1f} "
              f"{f'({min(medians[name]):.1f}-{max(medians[name]):.1f})':>15} "
              f"{statistics.median(ratios[name]):>7.3f}x "
              f"{f'({min(ratios[name]):.3f}-{max(ratios[name]):.3f})':>13} "
              f"{'n/a' if count is None else count:>12} "
              f"{resident[name] or 'n/a':>10}")
    if with_vars is not None:
        first = commands[0][0]
        print(f"environment: {first} runs {(with_vars - instructions[first]) / 20:.0f} "
              f"more instructions per environment variable (20 of 30 bytes each, measured)")
    print(f"payload check: the reader received {len(got)} bytes, "
          f"{sent} whole hello payloads, one per run")


if __name__ == "__main__":
    main()
