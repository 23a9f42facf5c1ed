#!/usr/bin/env python3
"""Builds the packages and checks that what they install works:

- the .deb unpacked anywhere: each program starts and finds the simulated
  library it installs, and marlek-sim runs;
- the Windows .zip: the four programs in bin/, the simulated marlek.dll and
  marlek-sim.exe in a folder of their own; a program starts once that DLL is
  put beside it.

  check_packages.py LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

PROGRAMS = ["pinio", "pindrive", "uartmode", "userled"]
HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "..", "windows", "wine-run")


def build_package(build_dir, pattern):
    subprocess.run(["cpack"], cwd=build_dir, check=True, stdout=subprocess.DEVNULL)
    found = glob.glob(os.path.join(build_dir, pattern))
    if len(found) != 1:
        raise SystemExit(f"expected one package {pattern} in {build_dir}, found {found}")
    return found[0]


def runs(command):
    """True when the command runs to a clean end with some output."""
    env = {key: value for key, value in os.environ.items() if not key.startswith("MARLEK_SIM_")}
    env["MARLEK_SIM_STATE"] = "memory"
    result = subprocess.run(command, input=b"q\n", capture_output=True, env=env, timeout=120)
    return result.returncode == 0 and result.stdout


def check_deb(build_dir):
    package = build_package(build_dir, "*.deb")
    with tempfile.TemporaryDirectory() as root:
        subprocess.run(["dpkg-deb", "-x", package, root], check=True)
        for program in PROGRAMS:
            path = os.path.join(root, "usr", "bin", program)
            if not runs([path]):
                raise SystemExit(f"{program} from the .deb does not run")
        if not runs([os.path.join(root, "usr", "bin", "marlek-sim"), "--help"]):
            raise SystemExit("marlek-sim from the .deb does not run")
    print(f"{os.path.basename(package)}: the four programs run as installed")


def check_zip(build_dir):
    package = build_package(build_dir, "*.zip")
    with tempfile.TemporaryDirectory() as root:
        with zipfile.ZipFile(package) as archive:
            names = sorted(name.split("/", 1)[1] for name in archive.namelist() if not name.endswith("/"))
            archive.extractall(root)
        expected = sorted([f"bin/{program}.exe" for program in PROGRAMS]
                          + ["simulated-board/marlek.dll", "simulated-board/marlek-sim.exe"])
        if names != expected:
            raise SystemExit(f"the .zip holds {names}, expected {expected}")
        top = os.path.join(root, os.listdir(root)[0])
        wine = [WINE_RUN, os.path.join(build_dir, "wineprefix")]
        program = os.path.join(top, "bin", "pinio.exe")
        if runs(wine + [program]):
            raise SystemExit("pinio.exe from the .zip runs without marlek.dll beside it")
        shutil.copy(os.path.join(top, "simulated-board", "marlek.dll"), os.path.join(top, "bin"))
        if not runs(wine + [program]):
            raise SystemExit("pinio.exe from the .zip does not run with marlek.dll beside it")
    print(f"{os.path.basename(package)}: laid out as expected; runs with marlek.dll beside it")


def main():
    check_deb(sys.argv[1])
    if len(sys.argv) > 2:
        subprocess.run([WINE_RUN, os.path.join(sys.argv[2], "wineprefix"), "--start"], check=True)
        try:
            check_zip(sys.argv[2])
        finally:
            subprocess.run([WINE_RUN, os.path.join(sys.argv[2], "wineprefix"), "--stop"], check=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
