"""Kept for tests/windows/wine_desktop.py, which imports colours_in from here."""

import os
import shutil
import subprocess


def colours_in(path):
    """The tray's load colours (exact pixel values) in a screenshot."""
    if not os.path.exists(path) or not shutil.which("convert"):
        return None
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True).stdout
    pixels = {tuple(raw[i:i + 3]) for i in range(0, len(raw) - 2, 3)}
    return {name for name, rgb in (("green", (0, 255, 0)), ("yellow", (255, 255, 0)),
                                   ("red", (255, 0, 0))) if rgb in pixels}
