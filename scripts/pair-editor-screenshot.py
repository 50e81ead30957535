#!/usr/bin/env python3
"""Screenshots of the pair editor of the real program, German and English, for the README: the
program under Xvfb with openbox and trayer (bench/real_windows.py's machine), three pairs, the
window opened from the tray icon and the editor from its "Paare" button.

Needs root (the machine mounts a tmpfs and an ext4 loop device) and ImageMagick's import.
Usage: scripts/pair-editor-screenshot.py [--program build/app/Kopierwart] [--out docs]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
import real_windows as rw  # noqa: E402

# The pairs' folders below the machine's ext4 file system; a destination with "tmpfs:" lies on
# its tmpfs, another disk.
PAIRS = (("Uploads/eMule", "Downloads/eMule"), ("Uploads/Shareaza", "Downloads/Shareaza"),
         ("Uploads/Nicotine", "tmpfs:Musik"))


def shoot(machine, executable, language, out):
    machine.env.update(LANGUAGE=language, LC_ALL="C.UTF-8")
    folders = []
    for watched, moved in PAIRS:
        watched = rw.fresh(os.path.join(machine.ext4, watched))
        moved = (os.path.join(machine.tmpfs, moved[6:]) if moved.startswith("tmpfs:")
                 else os.path.join(machine.ext4, moved))
        os.makedirs(moved, exist_ok=True)
        folders.append((watched, moved))
    program = rw.Program(machine, executable, "program-" + language, *folders[0], 5,
                         pairs=folders[1:])
    try:
        program.show_window()
        main = next(w for w, (_, _, width, _) in program.windows().items() if width > 700)
        # The "Paare" button, at its place in the main window.
        rw.run("xdotool", "mousemove", "--window", main, "--sync", "339", "212", "click", "1",
               env=machine.env)
        if not rw.wait_until(lambda: any(width == 560 for _, _, width, _ in
                                         program.windows().values()), 10, 0.1):
            raise RuntimeError("the pair editor did not open")
        time.sleep(0.5)
        editor = next(w for w, (_, _, width, _) in program.windows().items() if width == 560)
        rw.run("import", "-window", editor, out, env=machine.env)
        print(out)
    finally:
        program.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/app/Kopierwart")
    parser.add_argument("--out", default="docs")
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("needs root: the machine mounts a tmpfs and an ext4 loop device")
    # A short work folder, so that the paths in the editor read as a user's would.
    work = tempfile.mkdtemp(prefix="kw-")
    machine = rw.Machine(work)
    try:
        machine.start(512)
        for language, name in (("de", "pair-editor.png"), ("en", "pair-editor-en.png")):
            shoot(machine, os.path.abspath(args.program), language,
                  os.path.abspath(os.path.join(args.out, name)))
    finally:
        machine.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
