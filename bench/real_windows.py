#!/usr/bin/env python3
"""The real program under Xvfb with openbox and trayer, beside mv, cp -p + sync + rm, rsync and
rclone moving the same files in the same run; and the program with several folder pairs against
itself with one.

Needs root (tmpfs and a loop device with ext4); scripts/install-deps.sh installs the rest.
Usage: bench/real_windows.py [--quick] [--program build-rel/app/Kopierwart] [--cases abcdefgh]
                             [--runs N]
Prints one Markdown row per case: the median of the runs for the program and for each tool.
"""

import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HZ = os.sysconf("SC_CLK_TCK")
SMALL = b"k" * 10_000
TOOLS = ("mv", "cp -p + sync + rm", "rsync", "rclone")


def run(*command, **kwargs):
    return subprocess.run(command, check=True, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, **kwargs)


def wait_until(condition, timeout, step=0.002):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def count(folder):
    with os.scandir(folder) as entries:
        return sum(1 for _ in entries)


def make_files(folder, prefix, number, content):
    os.makedirs(folder, exist_ok=True)
    for i in range(number):
        with open(os.path.join(folder, f"{prefix}{i:05d}.bin"), "wb") as f:
            f.write(content)


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


class Machine:
    """Xvfb, openbox, trayer, a tmpfs and an ext4 loop device; all gone again in close()."""

    def __init__(self, work):
        self.work = work
        self.processes = []
        self.mounts = []
        self.loop = None

    def start(self, ext4_megabytes):
        self.tmpfs = fresh(os.path.join(self.work, "tmpfs"))
        run("mount", "-t", "tmpfs", "-o", "size=512m", "tmpfs", self.tmpfs)
        self.mounts.append(self.tmpfs)
        image = os.path.join(self.work, "ext4.img")
        with open(image, "wb") as f:
            f.truncate(ext4_megabytes << 20)
        run("mkfs.ext4", "-q", "-F", "-N", "400000", image)
        self.loop = subprocess.run(["losetup", "-f", "--show", image], check=True,
                                   capture_output=True, text=True).stdout.strip()
        self.ext4 = fresh(os.path.join(self.work, "ext4"))
        run("mount", self.loop, self.ext4)
        self.mounts.append(self.ext4)

        # Xvfb names a free display once it takes clients; another server of the shared
        # machine may still take the same one at that moment, so the display is tried first.
        for _ in range(10):
            read, write = os.pipe()
            xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0",
                                     "1024x768x24", "-nolisten", "tcp", "-noreset"],
                                    pass_fds=(write,), stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            os.close(write)
            with os.fdopen(read) as named:
                self.display = ":" + named.readline().strip()
            answer = subprocess.run(["xdpyinfo", "-display", self.display],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if answer.returncode == 0 and xvfb.poll() is None:
                self.processes.append(xvfb)
                break
            xvfb.kill()
            xvfb.wait()
        else:
            raise RuntimeError("no X server")
        self.env = dict(os.environ, DISPLAY=self.display, QT_QPA_PLATFORM="xcb")
        self.env.pop("WAYLAND_DISPLAY", None)
        for helper in (["openbox"],
                       ["trayer", "--edge", "bottom", "--align", "right", "--height", "24",
                        "--widthtype", "request"]):
            self.processes.append(subprocess.Popen(helper, env=self.env,
                                                   stdout=subprocess.DEVNULL,
                                                   stderr=subprocess.DEVNULL))
        time.sleep(1)

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
        for mount in reversed(self.mounts):
            subprocess.run(["umount", "-l", mount], stderr=subprocess.DEVNULL)
        if self.loop:
            subprocess.run(["losetup", "-d", self.loop], stderr=subprocess.DEVNULL)


class Program:
    """The executable copied into a data folder of its own with its settings written first, and
    started there as a user starts it."""

    def __init__(self, machine, executable, name, source, destination, interval,
                 blocked=(), pairs=()):
        self.machine = machine
        self.folder = fresh(os.path.join(machine.work, name))
        shutil.copy2(executable, os.path.join(self.folder, "Kopierwart"))
        ini = "".join(f"[{key}]\r\n{key}={value}\r\n" for key, value in
                      (("Source", source + "/"), ("Destination", destination + "/"),
                       ("Intervall", str(interval))))
        with open(os.path.join(self.folder, "Kopierwart.ini"), "w", newline="") as f:
            f.write(ini)
        if blocked:
            with open(os.path.join(self.folder, "Kopierwart.cfg"), "w", newline="") as f:
                f.write("".join(extension + "\r\n" for extension in blocked))
        if pairs:
            # The pairs beyond the main window's: watched folder NUL destination, CR LF.
            with open(os.path.join(self.folder, "Kopierwart.Pairlst"), "wb") as f:
                f.write(b"".join(os.fsencode(s) + b"/\0" + os.fsencode(d) + b"/\r\n"
                                 for s, d in pairs))
        self.errors = os.path.join(machine.work, name + ".stderr")
        with open(self.errors, "wb") as errors:
            self.process = subprocess.Popen(["./Kopierwart"], cwd=self.folder, env=machine.env,
                                            stdout=subprocess.DEVNULL, stderr=errors)
        log = os.path.join(self.folder, "Kopierwart.Log")

        def started():
            try:
                with open(log, "rb") as f:
                    return b"Starting P2Pfinder" in f.read()
            except OSError:
                return False
        if not wait_until(started, 60, 0.02):
            try:
                with open(log, "rb") as f:
                    tail = f.read()[-600:].decode("latin-1")
            except OSError:
                tail = "(no log)"
            with open(self.errors, "rb") as f:
                tail += f.read()[-600:].decode("latin-1")
            raise RuntimeError(f"the program did not start ({self.process.poll()}): {tail}")

    def cpu_ticks(self):
        with open(f"/proc/{self.process.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])

    def windows(self):
        """The program's top-level windows as {id: (x, y, width, height)}."""
        ids = subprocess.run(["xdotool", "search", "--class", "Kopierwart"], env=self.machine.env,
                             capture_output=True, text=True).stdout.split()
        found = {}
        for window in ids:
            shape = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                                   env=self.machine.env, capture_output=True, text=True).stdout
            values = dict(line.split("=", 1) for line in shape.split() if "=" in line)
            if {"X", "Y", "WIDTH", "HEIGHT"} <= values.keys():
                found[window] = tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
        return found

    def show_window(self):
        """A double click on the tray icon, as a user opens the window."""
        def icon():
            return next(((x + w // 2, y + h // 2) for x, y, w, h in self.windows().values()
                         if w <= 48 and h <= 48 and y > 0), None)
        def shown():
            for window, (_, _, w, _) in self.windows().items():
                if w > 300:
                    state = subprocess.run(["xwininfo", "-id", window], env=self.machine.env,
                                           capture_output=True, text=True).stdout
                    if "IsViewable" in state:
                        return True
            return False

        if not wait_until(icon, 20, 0.1):
            raise RuntimeError("no tray icon")
        # A click toggles the window; one made while the icon is still being embedded is lost.
        for _ in range(5):
            time.sleep(1)
            x, y = icon()
            run("xdotool", "mousemove", "--sync", str(x), str(y), env=self.machine.env)
            run("xdotool", "click", "1", env=self.machine.env)
            if wait_until(shown, 3, 0.05):
                return
        raise RuntimeError("the window did not show")

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()


def sync(folder):
    run("sync", "-f", folder)


def tool_move(tool, source, destination):
    """One tool moves every file of source into destination; answers seconds."""
    names = sorted(os.listdir(source))
    start = time.monotonic()
    if tool == "mv":
        run("sh", "-c", 'cd "$1" && exec find . -maxdepth 1 -type f -exec mv -t "$2" {} +',
            "sh", source, destination)
    elif tool == "cp -p + sync + rm":
        run("sh", "-c", 'cd "$1" && find . -maxdepth 1 -type f -exec cp -p -t "$2" {} + && '
            'sync -f "$2" && find . -maxdepth 1 -type f -delete', "sh", source, destination)
    elif tool == "rsync":
        run("rsync", "-a", "--remove-source-files", source + "/", destination + "/")
    elif tool == "rclone":
        run("rclone", "--config", "/dev/null", "move", source, destination)
    took = time.monotonic() - start
    assert count(destination) == len(names), tool
    return took


def program_burst(program, staging, watched, destination, number, timeout):
    """Files dropped at once into the watched folder (renamed in from beside it), until the last
    is in the destination and the watched folder is empty; answers seconds."""
    names = sorted(os.listdir(staging))
    start = time.monotonic()
    for name in names:
        os.rename(os.path.join(staging, name), os.path.join(watched, name))
    done = wait_until(lambda: count(watched) == 0 and count(destination) >= number, timeout,
                      0.005)
    took = time.monotonic() - start
    if not done:
        raise RuntimeError(f"burst not moved in {timeout} s: {count(watched)} left")
    return took


def burst_case(machine, executable, runs, number, content, source_fs, show, timeout):
    """Medians in seconds: {tool: s, "Kopierwart": s}."""
    times = {tool: [] for tool in TOOLS + ("Kopierwart",)}
    watched = fresh(os.path.join(source_fs, "watched"))
    moved = fresh(os.path.join(machine.ext4, "moved"))
    program = Program(machine, executable, "program", watched, moved, 5)
    try:
        if show:
            program.show_window()
        for r in range(runs):
            for tool in TOOLS:
                source = fresh(os.path.join(source_fs, "tool-source"))
                target = fresh(os.path.join(machine.ext4, "tool-target"))
                make_files(source, f"r{r}-", number, content)
                sync(machine.ext4)
                times[tool].append(tool_move(tool, source, target))
                shutil.rmtree(target)
            staging = fresh(os.path.join(source_fs, "staging"))
            make_files(staging, f"r{r}-", number, content)
            sync(machine.ext4)
            before = count(moved)
            times["Kopierwart"].append(
                program_burst(program, staging, watched, moved, before + number, timeout))
    finally:
        program.stop()
    return {tool: statistics.median(values) for tool, values in times.items()}


def arrival_case(machine, executable, files):
    """One file at a time into a watched folder at interval 60 s; median seconds from its
    arrival until it is in the destination, and the tools moving one such file."""
    watched = fresh(os.path.join(machine.ext4, "watched"))
    moved = fresh(os.path.join(machine.ext4, "moved"))
    staging = fresh(os.path.join(machine.ext4, "staging"))
    program = Program(machine, executable, "program", watched, moved, 60)
    latencies = []
    try:
        time.sleep(1)
        for i in range(files):
            name = f"arrival{i:03d}.bin"
            with open(os.path.join(staging, name), "wb") as f:
                f.write(SMALL)
            sync(machine.ext4)
            start = time.monotonic()
            os.rename(os.path.join(staging, name), os.path.join(watched, name))
            arrived = os.path.join(moved, name)
            if not wait_until(lambda: os.path.exists(arrived) and count(watched) == 0, 10,
                              0.0005):
                raise RuntimeError(f"{name} not moved")
            latencies.append(time.monotonic() - start)
            time.sleep(0.05)
    finally:
        program.stop()
    result = {"Kopierwart": statistics.median(latencies)}
    for tool in TOOLS:
        values = []
        for i in range(files):
            source = fresh(os.path.join(machine.ext4, "tool-source"))
            target = fresh(os.path.join(machine.ext4, "tool-target"))
            make_files(source, f"one{i}-", 1, SMALL)
            sync(machine.ext4)
            values.append(tool_move(tool, source, target))
        result[tool] = statistics.median(values)
    return result


def staying_case(machine, executable, number, interval, seconds):
    """CPU seconds of the program over seconds with number files that stay (blocked)."""
    watched = fresh(os.path.join(machine.ext4, "watched"))
    moved = fresh(os.path.join(machine.ext4, "moved"))
    for i in range(number):
        open(os.path.join(watched, f"bleibt{i:05d}.part"), "wb").close()
    program = Program(machine, executable, "program", watched, moved, interval, ("part",))
    try:
        time.sleep(max(2, interval + 1))
        before = program.cpu_ticks()
        time.sleep(seconds)
        ticks = program.cpu_ticks() - before
        assert count(watched) == number, "blocked files stay"
    finally:
        program.stop()
    return ticks / HZ


def pairs_idle_case(machine, executable, pairs, interval, seconds):
    """CPU seconds of the program over seconds with pairs pairs of quiet (empty) folders."""
    folders = [(fresh(os.path.join(machine.ext4, f"quiet{i}")),
                fresh(os.path.join(machine.ext4, f"quiet{i}-moved"))) for i in range(pairs)]
    program = Program(machine, executable, "program", *folders[0], interval, pairs=folders[1:])
    try:
        time.sleep(max(2, interval + 1))
        before = program.cpu_ticks()
        time.sleep(seconds)
        ticks = program.cpu_ticks() - before
    finally:
        program.stop()
    return ticks / HZ


def pairs_burst_case(machine, executable, runs, pairs, number, timeout):
    """Median seconds until number files of 10 KB, dropped at once and split evenly over pairs
    watched folders on the tmpfs, are all in their destinations on the ext4 loop."""
    folders = [(fresh(os.path.join(machine.tmpfs, f"watched{i}")),
                fresh(os.path.join(machine.ext4, f"moved{i}"))) for i in range(pairs)]
    program = Program(machine, executable, "program", *folders[0], 5, pairs=folders[1:])
    times = []
    try:
        for r in range(runs):
            stagings = []
            for i, (watched, _) in enumerate(folders):
                staging = fresh(os.path.join(machine.tmpfs, f"staging{i}"))
                make_files(staging, f"r{r}-", number // pairs, SMALL)
                stagings.append(staging)
            sync(machine.ext4)
            before = [count(moved) for _, moved in folders]
            start = time.monotonic()
            for staging, (watched, _) in zip(stagings, folders):
                for name in sorted(os.listdir(staging)):
                    os.rename(os.path.join(staging, name), os.path.join(watched, name))

            def done():
                return all(count(w) == 0 and count(m) >= b + number // pairs
                           for (w, m), b in zip(folders, before))
            if not wait_until(done, timeout, 0.005):
                raise RuntimeError(f"burst over {pairs} pairs not moved in {timeout} s")
            times.append(time.monotonic() - start)
    finally:
        program.stop()
    return statistics.median(times)


def ratio(value, reference):
    return f"{value / reference:.1f} ×" if reference > 0 else "—"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build-rel/app/Kopierwart")
    parser.add_argument("--quick", action="store_true",
                        help="fewer files, one run, shorter idle (about 2 minutes)")
    parser.add_argument("--cases", default="abcdefgh")
    parser.add_argument("--runs", type=int, default=None)
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("needs root: it mounts a tmpfs and an ext4 loop device")
    executable = os.path.abspath(args.program)
    quick = args.quick
    runs = args.runs or (1 if quick else 3)
    sizes = {"a": 500 if quick else 2000, "b": 2000 if quick else 10_000,
             "c": 5 if quick else 20, "d": 10_000 if quick else 50_000,
             "e": 10_000, "f": 10_000, "g": 10, "h": 3000 if quick else 9000}
    idle = 20 if quick else 60
    tick_seconds = 5 if quick else 10

    work = tempfile.mkdtemp(prefix="kw-real-windows-")
    machine = Machine(work)

    def ended(signum, frame):
        raise SystemExit(128 + signum)
    signal.signal(signal.SIGTERM, ended)
    signal.signal(signal.SIGINT, ended)
    try:
        machine.start(2048)
        with open("/proc/loadavg") as f:
            print(f"load before: {f.read().split()[:3]}, runs: {runs}", flush=True)
        for case in args.cases:
            n = sizes[case]
            if case in "abd":
                what = {"a": f"{n:,} × 10 KB, tmpfs → ext4 loop, drop until all moved",
                        "b": f"{n:,} × 10 KB, one ext4 loop file system",
                        "d": f"{n:,} empty files, one ext4 loop, window shown"}[case]
                source_fs = machine.tmpfs if case == "a" else machine.ext4
                content = b"" if case == "d" else SMALL
                result = burst_case(machine, executable, runs if case != "d" or not quick else 1,
                                    n, content, source_fs, case == "d", 900)
                reference = result["cp -p + sync + rm"] if case == "a" else result["mv"]
                print(f"| {case} | {what} | {result['Kopierwart']:.2f} s | "
                      + " | ".join(f"{result[t]:.2f} s" for t in TOOLS)
                      + f" | {ratio(result['Kopierwart'], reference)} |", flush=True)
            elif case == "c":
                result = arrival_case(machine, executable, n)
                print(f"| c | arrival → moved, interval 60 s, median of {n} | "
                      f"{result['Kopierwart'] * 1000:.1f} ms | "
                      + " | ".join(f"{result[t] * 1000:.1f} ms" for t in TOOLS) + " | |",
                      flush=True)
            elif case == "e":
                cpu = staying_case(machine, executable, n, 1, tick_seconds)
                print(f"| e | tick over {n:,} staying files, interval 1 s | "
                      f"{cpu / tick_seconds * 1000:.1f} ms CPU per tick | | | | | |", flush=True)
            elif case == "f":
                cpu = staying_case(machine, executable, n, 5, idle)
                print(f"| f | idle {idle} s with {n:,} staying files, interval 5 s | "
                      f"{cpu:.2f} s CPU ({cpu / idle * 100:.2f} % of a core) | | | | | |",
                      flush=True)
            elif case == "g":
                one = pairs_idle_case(machine, executable, 1, 5, idle)
                many = pairs_idle_case(machine, executable, n, 5, idle)
                print(f"| g | idle {idle} s, interval 5 s, {n} pairs of quiet folders against 1 | "
                      f"{many:.2f} s CPU against {one:.2f} s | | | | | "
                      f"{ratio(many, one)} |", flush=True)
            elif case == "h":
                one = pairs_burst_case(machine, executable, runs, 1, n, 900)
                three = pairs_burst_case(machine, executable, runs, 3, n, 900)
                print(f"| h | {n:,} × 10 KB, tmpfs → ext4 loop, over 3 pairs against 1 pair | "
                      f"{three:.2f} s against {one:.2f} s | | | | | {ratio(three, one)} |",
                      flush=True)
        with open("/proc/loadavg") as f:
            print(f"load after: {f.read().split()[:3]}")
    finally:
        machine.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
