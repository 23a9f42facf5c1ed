#!/usr/bin/env python3
"""Builds the packages and checks that they install what they should, that
lintian passes them, and that what they install works:

- the three .deb files: marlek-board-tools with the four programs and their
  manual pages, marlek-board-sim with the simulated library in its own folder,
  marlek-sim, its manual page and completion, marlek-board-linux with the
  Linux board library where the loader finds it, marlek-board, their manual
  pages and an example description. lintian finds no error and no warning in
  any. Unpacked into an empty folder, nothing carries a library search path,
  the programs do not start without a board library on the loader's path,
  marlek-sim run starts each on the simulated board, and with the unpacked
  /usr/lib on the loader's path a program binds the Linux board library;
- the Windows .zip: the four programs in bin/, the simulated marlek.dll and
  marlek-sim.exe in a folder of their own, README.txt (CRLF) and LICENSE.
  Unpacked, a program does not start alone, marlek-sim.exe run starts each
  under Wine, and a program starts once a marlek.dll is put beside it.

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
ROOT = os.path.join(HERE, "..", "..")
WINE_RUN = os.path.join(HERE, "..", "windows", "wine-run")
TOOLS = "marlek-board-tools"
SIM = "marlek-board-sim"
LINUX = "marlek-board-linux"


def package_files(package):
    """What a package installs besides its own program files."""
    return [f"usr/share/doc/{package}/copyright", f"usr/share/doc/{package}/changelog.Debian.gz",
            f"usr/share/lintian/overrides/{package}"]


DEB_CONTENTS = {
    TOOLS: sorted([f"usr/bin/{program}" for program in PROGRAMS]
                  + [f"usr/share/man/man1/{program}.1.gz" for program in PROGRAMS] + package_files(TOOLS)),
    SIM: sorted(["usr/bin/marlek-sim", "usr/lib/marlek-sim/libmarlek.so", "usr/share/man/man1/marlek-sim.1.gz",
                 "usr/share/bash-completion/completions/marlek-sim"] + package_files(SIM)),
    LINUX: sorted(["usr/bin/marlek-board", "usr/lib/libmarlek.so", "usr/share/man/man1/marlek-board.1.gz",
                   "usr/share/man/man5/marlek-board.conf.5.gz", f"usr/share/doc/{LINUX}/examples/board.conf"]
                  + package_files(LINUX)),
}
ZIP_CONTENTS = sorted([f"bin/{program}.exe" for program in PROGRAMS]
                      + ["simulated-board/marlek.dll", "simulated-board/marlek-sim.exe", "README.txt", "LICENSE"])


def build_packages(build_dir, out_dir, pattern):
    subprocess.run(["cpack", "-B", out_dir], cwd=build_dir, check=True, stdout=subprocess.DEVNULL)
    return sorted(glob.glob(os.path.join(out_dir, pattern)))


def clean_env(**extra):
    env = {key: value for key, value in os.environ.items()
           if not key.startswith("MARLEK_SIM_") and key not in ("LD_LIBRARY_PATH", "LD_PRELOAD", "WINEPATH")}
    env["MARLEK_SIM_STATE"] = "memory"
    return {**env, **extra}


def run(command, env=None):
    return subprocess.run(command, input=b"q\n", capture_output=True, env=env or clean_env(), timeout=120)


def runs(command, env=None):
    """True when the command runs to a clean end with some output."""
    result = run(command, env)
    return result.returncode == 0 and result.stdout


def fail(problem):
    raise SystemExit(problem)


def deb_field(package, field):
    return subprocess.run(["dpkg-deb", "-f", package, field], capture_output=True, text=True,
                          check=True).stdout.strip()


def deb_files(package):
    listing = subprocess.run(["dpkg-deb", "-c", package], capture_output=True, text=True, check=True).stdout
    return sorted(line.split()[-1].lstrip("./") for line in listing.splitlines() if not line.startswith("d"))


def check_debs(build_dir):
    with tempfile.TemporaryDirectory() as work:
        packages = build_packages(build_dir, work, "*.deb")
        names = {deb_field(package, "Package"): package for package in packages}
        if sorted(names) != sorted(DEB_CONTENTS):
            fail(f"cpack made {packages}, expected one package each of {sorted(DEB_CONTENTS)}")
        for name, package in names.items():
            if deb_files(package) != DEB_CONTENTS[name]:
                fail(f"{name} holds {deb_files(package)}, expected {DEB_CONTENTS[name]}")
            if "libc6 (>= " not in deb_field(package, "Depends"):
                fail(f"{name} lacks a versioned dependency on libc6: {deb_field(package, 'Depends')!r}")
        if deb_field(names[TOOLS], "Recommends") != SIM:
            fail(f"{TOOLS} does not recommend {SIM}")
        lintian = subprocess.run(["lintian", "--fail-on", "error,warning", *packages], capture_output=True, text=True)
        if lintian.returncode != 0:
            fail(f"lintian fails the packages:\n{lintian.stdout}{lintian.stderr}")

        root = os.path.join(work, "root")
        for package in packages:
            subprocess.run(["dpkg-deb", "-x", package, root], check=True)
        check_unpacked(root)
    print(f"{' and '.join(os.path.basename(package) for package in packages)}: lintian-clean; unpacked, "
          "the programs need a board library and marlek-sim run starts each")


def check_unpacked(root):
    bin_dir = os.path.join(root, "usr", "bin")
    tool = os.path.join(bin_dir, "marlek-sim")
    for path in [*glob.glob(os.path.join(bin_dir, "*")), *glob.glob(os.path.join(root, "usr", "lib", "*.so")),
                 *glob.glob(os.path.join(root, "usr", "lib", "*", "*.so"))]:
        dynamic = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
        if "RPATH" in dynamic or "RUNPATH" in dynamic:
            fail(f"{path} carries a library search path")
    for program in PROGRAMS:
        path = os.path.join(bin_dir, program)
        alone = run([path])
        if alone.returncode == 0 or alone.stdout or b"libmarlek.so" not in alone.stderr:
            fail(f"{program} from the .deb starts without a board library: {alone}")
        if not runs([tool, "run", path]):
            fail(f"marlek-sim run {program} from the .deb does not run: {run([tool, 'run', path])}")
    # The Linux board library, as the loader would find it installed: the
    # program binds it and reports the missing description.
    on_board = clean_env(LD_LIBRARY_PATH=os.path.join(root, "usr", "lib"), MARLEK_BOARD="/nonexistent/board.conf")
    board = run([os.path.join(bin_dir, "pinio")], env=on_board)
    if board.returncode != 1 or b"Marlek_DIOInit: board description unusable cannot open" not in board.stdout:
        fail(f"pinio from the .deb does not report the missing board description: {board}")
    if not runs([os.path.join(bin_dir, "marlek-board"), "--version"]):
        fail("marlek-board --version from the .deb does not run")
    # As installed: the program found on PATH.
    on_path = clean_env(PATH=bin_dir + os.pathsep + os.environ.get("PATH", ""))
    if not runs(["marlek-sim", "run", "pinio"], env=on_path):
        fail("marlek-sim run pinio does not find pinio on PATH")


def windows_path(path):
    """A POSIX path as a Windows program under Wine sees it, on drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def check_zip(build_dir):
    with tempfile.TemporaryDirectory() as work:
        packages = build_packages(build_dir, work, "*.zip")
        if len(packages) != 1:
            fail(f"expected one .zip, found {packages}")
        root = os.path.join(work, "root")
        with zipfile.ZipFile(packages[0]) as archive:
            names = sorted(name.split("/", 1)[1] for name in archive.namelist() if not name.endswith("/"))
            archive.extractall(root)
        if names != ZIP_CONTENTS:
            fail(f"the .zip holds {names}, expected {ZIP_CONTENTS}")
        top = os.path.join(root, os.listdir(root)[0])
        with open(os.path.join(top, "README.txt"), "rb") as file:
            readme = file.read()
        if readme.count(b"\n") == 0 or readme.count(b"\n") != readme.count(b"\r\n"):
            fail("README.txt in the .zip does not end its lines with CRLF")
        with open(os.path.join(top, "LICENSE"), "rb") as shipped, open(os.path.join(ROOT, "LICENSE"), "rb") as kept:
            if shipped.read() != kept.read():
                fail("LICENSE in the .zip is not the project's")

        wine = [WINE_RUN, os.path.join(build_dir, "wineprefix")]
        tool = os.path.join(top, "simulated-board", "marlek-sim.exe")
        programs = {program: os.path.join(top, "bin", program + ".exe") for program in PROGRAMS}
        if runs(wine + [programs["pinio"]]):
            fail("pinio.exe from the .zip runs without marlek.dll")
        for program, path in programs.items():
            if not runs(wine + [tool, "run", windows_path(path)]):
                fail(f"marlek-sim.exe run {program}.exe from the .zip does not run: "
                     f"{run(wine + [tool, 'run', windows_path(path)])}")
        shutil.copy(os.path.join(top, "simulated-board", "marlek.dll"), os.path.join(top, "bin"))
        if not runs(wine + [programs["pinio"]]):
            fail("pinio.exe from the .zip does not run with a marlek.dll beside it")
    print(f"{os.path.basename(packages[0])}: laid out as expected; marlek-sim.exe run starts each program")


def main():
    check_debs(sys.argv[1])
    if len(sys.argv) > 2:
        subprocess.run([WINE_RUN, os.path.join(sys.argv[2], "wineprefix"), "--start"], check=True)
        try:
            check_zip(sys.argv[2])
        finally:
            subprocess.run([WINE_RUN, os.path.join(sys.argv[2], "wineprefix"), "--stop"], check=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
