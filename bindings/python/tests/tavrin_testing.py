"""What the module's tests share: the library of the build under test (loaded once, with a user
data folder of the tests' own), the simulator tavrin-sim on a loopback address, and the export
list of the public header."""

import atexit
import os
import random
import re
import socket
import subprocess
import tempfile
import threading
from pathlib import Path

import tavrin

ROOT = Path(__file__).resolve().parents[3]
EXPORT_LIST = ROOT / "include" / "tavrin" / "tavrin_exports.h"
HEADER = ROOT / "include" / "tavrin" / "tavrin.h"
SIMULATOR = os.environ.get("TAVRIN_SIM", "tavrin-sim")

# One loopback address per run, so that runs at the same time do not meet; the search is sent
# there (the library's DiscoveryAddress setting).
ADDRESS = f"127.0.{random.randint(1, 254)}.{random.randint(2, 254)}"

_library = None
_home = None


def library():
    """The library under test. Its start-up reads the settings of a user data folder made for the
    tests, so it is loaded only after that folder exists."""
    global _library, _home
    if _library is None:
        _home = tempfile.TemporaryDirectory(prefix="tavrin-python-")
        folder = Path(_home.name) / "Tavrin"
        folder.mkdir()
        (folder / "DevDllCfg.ini").write_text(
            f"[General]\nCfgID=1684418609\n[Port]\nDiscoveryAddress={ADDRESS}\n[SysLog]\nLogEnable=0\n")
        os.environ["XDG_DATA_HOME"] = _home.name
        _library = tavrin.Library()
        # Unloaded when the tests end, so that the library's detach runs while the run still
        # watches (an unload that crashed would fail the run). A library left loaded until the
        # process exits is the library's own lifetime concern, tested by its own suites.
        atexit.register(_library.unload)
    return _library


def user_data_folder():
    """The library's user data folder of this run ("Tavrin" in the tests' own data folder)."""
    library()
    return Path(_home.name) / "Tavrin"


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((ADDRESS, 0))
        return s.getsockname()[1]


class Simulator:
    """tavrin-sim with the given switches; devices maps each device's index to its path. It runs
    until stop(), which returns what it printed at its end."""

    def __init__(self, *switches):
        self.process = subprocess.Popen([SIMULATOR, *switches], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        # A simulator that does not come up within the bound is ended, which ends the reading.
        guard = threading.Timer(20.0, self.process.kill)
        guard.start()
        self.devices = {}
        self.lines = []
        try:
            for line in self.process.stdout:
                self.lines.append(line.rstrip("\n"))
                match = re.match(r"device (\d+) (\S+)$", self.lines[-1])
                if match:
                    self.devices[int(match.group(1))] = match.group(2)
                if self.lines[-1] == "ready":
                    break
        finally:
            guard.cancel()
        if not self.lines or self.lines[-1] != "ready":
            self.process.kill()
            self.process.wait()
            raise RuntimeError("tavrin-sim did not start: " + "\n".join(self.lines))

    def stop(self):
        """Ends the simulator (its standard input closes) and returns its last lines."""
        try:
            rest, _ = self.process.communicate(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            rest, _ = self.process.communicate()
        return rest


def export_entries():
    """(name, parameter count) of each entry of the export list, in its order."""
    text = EXPORT_LIST.read_text()
    entries = []
    for match in re.finditer(r"^TAVRIN_FUNCTION\((\w+),\s*\d+,\s*[^,]+?,\s*\((.*?)\)\)", text, re.M | re.S):
        parameters = " ".join(match.group(2).split())
        entries.append((match.group(1), 0 if parameters == "void" else parameters.count(",") + 1))
    return entries


def header_define(name):
    match = re.search(rf"^#define {name} +(\d+)", HEADER.read_text(), re.M)
    return int(match.group(1))
