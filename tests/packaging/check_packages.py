#!/usr/bin/env python3
"""Builds the packages and checks that they install what they should, that
lintian passes them, and that what they install works:

- the three .deb files: marlek-board-tools with the four programs and their
  manual pages, marlek-board-sim with the simulated library in its own folder,
  marlek-sim, its manual page and completion, marlek-board-linux with the
  Linux board library where the loader finds it, marlek-board, the board
  service marlek-boardd and its systemd units, their manual pages, an example
  description, the udev rule and its LED helper, each of the architecture
  asked for (--architecture; the machine's by default) and depending on that
  architecture's libc6. lintian finds no error and no warning in any.
  Unpacked into an empty folder, nothing carries a library search path, the
  programs do not start without a board library on the loader's path,
  marlek-sim run starts each on the simulated board, and with the unpacked
  /usr/lib on the loader's path a program binds the Linux board library.
  systemd-analyze rates the service unit's hardening "OK" or better
  (security --offline) and finds nothing wrong with the units (verify). The
  .deb files of a cross build (preset arm64) are run under the emulator its
  cache names (qemu-user), and what qemu-user cannot run is left out, for the
  reason tests/qemu_user.py gives;
- dpkg installs marlek-board-linux into a scratch root (its scripts run
  outside it, as DPKG_ROOT allows): over a libmarlek.so that no package owns
  (the maker's, a file or a link) it refuses with a text that names the file,
  which is left byte for byte; into a clean root it installs the units,
  enables the socket and makes the group gpio and the service's user, a
  member of gpio and dialout (where systemd-sysusers is at hand); installed
  again over itself it leaves an administrator's disabled socket disabled;
  removed, it leaves no unit enabled, and installed again after that the
  socket is enabled as it was; it refuses a foreign library once removed;
  purged, it leaves no link to a unit and no state folder, and keeps the group
  and the user;
- the Windows .zip: the four programs in bin/, the simulated marlek.dll and
  marlek-sim.exe in a folder of their own, README.txt and LICENSE (CRLF).
  Unpacked, a program does not start alone, marlek-sim.exe run starts each
  under Wine, and a program starts once a marlek.dll is put beside it;
- both are reproducible: packed again a second later they are the same bytes,
  the .deb files' times are the last commit's, and (for a native build) the
  simulated library, the manual pages and the changelog built in another
  folder are those packed;
- a packager's flags win (for a native build): with dpkg-buildflags' flags,
  _FORTIFY_SOURCE=3 among them, the library and a program build without a
  warning, the caller's _FORTIFY_SOURCE the only one.

  check_packages.py [--architecture ARCH] LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]
"""
import argparse
import glob
import io
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from qemu_user import PROGRAM_ON_PATH, under_qemu_user  # noqa: E402

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


# The simulated library's private folder is the architecture's
# (usr/lib/x86_64-linux-gnu/marlek-sim), named for the packages being checked.
SIM_LIBRARY = "usr/lib/{multiarch}/marlek-sim/libmarlek.so"
DEB_CONTENTS = {
    TOOLS: sorted([f"usr/bin/{program}" for program in PROGRAMS]
                  + [f"usr/share/man/man1/{program}.1.gz" for program in PROGRAMS] + package_files(TOOLS)),
    SIM: sorted(["usr/bin/marlek-sim", SIM_LIBRARY, "usr/share/man/man1/marlek-sim.1.gz",
                 "usr/share/bash-completion/completions/marlek-sim"] + package_files(SIM)),
    LINUX: sorted(["usr/bin/marlek-board", "usr/sbin/marlek-boardd", "usr/lib/libmarlek.so",
                   "usr/share/man/man1/marlek-board.1.gz", "usr/share/man/man5/marlek-board.conf.5.gz",
                   "usr/share/man/man8/marlek-boardd.8.gz", f"usr/share/doc/{LINUX}/examples/board.conf",
                   f"lib/udev/rules.d/60-{LINUX}.rules", f"usr/libexec/{LINUX}/led-access",
                   f"usr/lib/sysusers.d/{LINUX}.conf", "lib/systemd/system/marlek-board.socket",
                   "lib/systemd/system/marlek-board.service"]
                  + package_files(LINUX)),
}
ZIP_CONTENTS = sorted([f"bin/{program}.exe" for program in PROGRAMS]
                      + ["simulated-board/marlek.dll", "simulated-board/marlek-sim.exe", "README.txt", "LICENSE"])


def build_packages(build_dir, out_dir, pattern):
    subprocess.run(["cpack", "-B", out_dir], cwd=build_dir, check=True, stdout=subprocess.DEVNULL)
    return sorted(glob.glob(os.path.join(out_dir, pattern)))


def check_repacked(build_dir, packages):
    """Packed again a second later, the packages are the same bytes."""
    time.sleep(1.1)
    with tempfile.TemporaryDirectory() as again:
        repacked = build_packages(build_dir, again, "*" + os.path.splitext(packages[0])[1])
        if [os.path.basename(package) for package in repacked] != [os.path.basename(package) for package in packages]:
            fail(f"packed again, cpack made {repacked} instead of {packages}")
        for first, second in zip(packages, repacked):
            with open(first, "rb") as one, open(second, "rb") as other:
                if one.read() != other.read():
                    fail(f"{os.path.basename(first)} differs when packed again a second later")


def source_date_epoch():
    """The packages' time: SOURCE_DATE_EPOCH, or the last commit's."""
    if "SOURCE_DATE_EPOCH" in os.environ:
        return int(os.environ["SOURCE_DATE_EPOCH"])
    return int(subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"], capture_output=True, text=True,
                              check=True).stdout)


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


def cached(build_dir, name):
    """The value of a variable in the build tree's CMake cache, as a list; empty when it is not there."""
    with open(os.path.join(build_dir, "CMakeCache.txt")) as cache:
        for line in cache:
            key, _, value = line.rstrip("\n").partition("=")
            if key.split(":")[0] == name:
                return value.split(";") if value else []
    return []


def multiarch(architecture=None):
    """The folder name of an architecture's libraries (x86_64-linux-gnu); the machine's by default."""
    command = ["dpkg-architecture", *(["-a", architecture] if architecture else []), "-qDEB_HOST_MULTIARCH"]
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout.strip()


def check_debs(build_dir, architecture):
    # What runs the build's programs here (nothing for a native build), and
    # the readelf of its binutils.
    emulator = cached(build_dir, "CMAKE_CROSSCOMPILING_EMULATOR")
    readelf = (cached(build_dir, "CMAKE_READELF") or ["readelf"])[0]
    with tempfile.TemporaryDirectory() as work:
        packages = build_packages(build_dir, work, "*.deb")
        names = {deb_field(package, "Package"): package for package in packages}
        if sorted(names) != sorted(DEB_CONTENTS):
            fail(f"cpack made {packages}, expected one package each of {sorted(DEB_CONTENTS)}")
        for name, package in names.items():
            expected = sorted(path.format(multiarch=multiarch(architecture)) for path in DEB_CONTENTS[name])
            if deb_files(package) != expected:
                fail(f"{name} holds {deb_files(package)}, expected {expected}")
            if deb_field(package, "Architecture") != architecture:
                fail(f"{name} is for {deb_field(package, 'Architecture')!r}, expected {architecture!r}")
            depends = deb_field(package, "Depends")
            if "libc6 (>= " not in depends:
                fail(f"{name} lacks a versioned dependency on libc6: {depends!r}")
            # The packages of the architecture itself, not a cross build's
            # stand-ins for them (libc6-arm64-cross, libc6:arm64).
            if "-cross" in depends or ":" in depends:
                fail(f"{name} depends on packages of the build machine: {depends!r}")
        if deb_field(names[TOOLS], "Recommends") != SIM:
            fail(f"{TOOLS} does not recommend {SIM}")
        lintian = subprocess.run(["lintian", "--fail-on", "error,warning", *packages], capture_output=True, text=True)
        if lintian.returncode != 0:
            fail(f"lintian fails the packages:\n{lintian.stdout}{lintian.stderr}")
        check_repacked(build_dir, packages)
        for package in packages:
            data = subprocess.run(["dpkg-deb", "--fsys-tarfile", package], capture_output=True, check=True).stdout
            with tarfile.open(fileobj=io.BytesIO(data)) as archive:
                times = {member.mtime for member in archive}
            if times != {source_date_epoch()}:
                fail(f"{os.path.basename(package)} holds files of the times {sorted(times)}, "
                     f"not {source_date_epoch()} alone")

        check_dpkg_install(names[LINUX], work)
        root = os.path.join(work, "root")
        for package in packages:
            subprocess.run(["dpkg-deb", "-x", package, root], check=True)
        check_unpacked(root, emulator, readelf)
        check_units(root)
        # The builds in another folder are native ones: the native packages' check makes them.
        if not emulator:
            check_other_builds(root)
    print(f"{' and '.join(os.path.basename(package) for package in packages)}: lintian-clean, reproducible; "
          "unpacked, the programs need a board library and marlek-sim run starts each; the service's units "
          "pass systemd-analyze"
          + ("" if emulator else "; the packager's flags build without a warning"))


def check_unpacked(root, emulator, readelf):
    bin_dir = os.path.join(root, "usr", "bin")
    tool = os.path.join(bin_dir, "marlek-sim")
    for path in [*glob.glob(os.path.join(bin_dir, "*")), *glob.glob(os.path.join(root, "usr", "lib", "*.so")),
                 *glob.glob(os.path.join(root, "usr", "lib", "*", "*.so"))]:
        dynamic = subprocess.run([readelf, "-d", path], capture_output=True, text=True, check=True).stdout
        if "RPATH" in dynamic or "RUNPATH" in dynamic:
            fail(f"{path} carries a library search path")
    # Under qemu-user marlek-sim run executes the emulator with the program.
    starts = emulator if under_qemu_user(emulator) else []
    for program in PROGRAMS:
        path = os.path.join(bin_dir, program)
        alone = run([*emulator, path])
        if alone.returncode == 0 or alone.stdout or b"libmarlek.so" not in alone.stderr:
            fail(f"{program} from the .deb starts without a board library: {alone}")
        command = [*emulator, tool, "run", *starts, path]
        if not runs(command):
            fail(f"marlek-sim run {program} from the .deb does not run: {run(command)}")
    # The Linux board library, as the loader would find it installed: the
    # program binds it and reports the missing description.
    on_board = clean_env(LD_LIBRARY_PATH=os.path.join(root, "usr", "lib"), MARLEK_BOARD="/nonexistent/board.conf")
    board = run([*emulator, os.path.join(bin_dir, "pinio")], env=on_board)
    if board.returncode != 1 or b"Marlek_DIOInit: board description unusable cannot open" not in board.stdout:
        fail(f"pinio from the .deb does not report the missing board description: {board}")
    if not runs([*emulator, os.path.join(bin_dir, "marlek-board"), "--version"]):
        fail("marlek-board --version from the .deb does not run")
    # As installed: the program found on PATH.
    if under_qemu_user(emulator):
        print(f"left out under qemu-user, marlek-sim run pinio found on PATH: {PROGRAM_ON_PATH}")
        return
    on_path = clean_env(PATH=bin_dir + os.pathsep + os.environ.get("PATH", ""))
    if not runs(["marlek-sim", "run", "pinio"], env=on_path):
        fail("marlek-sim run pinio does not find pinio on PATH")


UNITS = "lib/systemd/system"
SOCKET_UNIT = "marlek-board.socket"
SERVICE_UNIT = "marlek-board.service"
EXPOSURE_BOUND = 5.0  # systemd-analyze security's "OK" ends there


def check_units(root):
    """systemd-analyze, without a running systemd, on the units as packed: the
    service's hardening rated below EXPOSURE_BOUND, and the units verified
    with the service's command taken from the unpacked tree."""
    if not shutil.which("systemd-analyze"):
        fail("no systemd-analyze to check the units with: scripts/setup-debian --tests installs systemd")
    service = os.path.join(root, UNITS, SERVICE_UNIT)
    security = subprocess.run(["systemd-analyze", "security", "--offline=yes", "--no-pager", service],
                              capture_output=True, text=True)
    rated = re.search(rf"Overall exposure level for {re.escape(SERVICE_UNIT)}: (\d+\.\d+) (\w+)", security.stdout)
    if security.returncode != 0 or not rated or float(rated.group(1)) >= EXPOSURE_BOUND:
        fail(f"systemd-analyze security rates {SERVICE_UNIT} {' '.join(rated.groups()) if rated else 'not at all'}, "
             f"not below {EXPOSURE_BOUND}:\n{security.stdout}{security.stderr}")
    # verify takes the units by their path and looks for the command on this
    # machine: a copy names the unpacked one. It reports faults and still ends
    # with 0, so any word from it fails the check.
    with tempfile.TemporaryDirectory() as folder:
        text = pathlib.Path(service).read_text()
        if "\nExecStart=/usr/sbin/marlek-boardd\n" not in text:
            fail(f"{SERVICE_UNIT} does not start /usr/sbin/marlek-boardd")
        pathlib.Path(folder, SERVICE_UNIT).write_text(
            text.replace("\nExecStart=/usr/sbin/", f"\nExecStart={os.path.abspath(root)}/usr/sbin/"))
        shutil.copy(os.path.join(root, UNITS, SOCKET_UNIT), folder)
        verify = subprocess.run(["systemd-analyze", "verify", "--man=no", os.path.join(folder, SOCKET_UNIT),
                                 os.path.join(folder, SERVICE_UNIT)], capture_output=True, text=True)
        if verify.returncode != 0 or verify.stdout or verify.stderr:
            fail(f"systemd-analyze verify finds fault with the units:\n{verify.stdout}{verify.stderr}")


# What a board maker's installer may have left at /usr/lib/libmarlek.so:
# (what it is, how to make it there).
FOREIGN_LIBRARIES = [
    ("a file", lambda path: pathlib.Path(path).write_bytes(b"\x7fELF the maker's library\n")),
    ("a link", lambda path: os.symlink("libmarlek.so.3.1", path)),
]
REFUSAL = "is there already and belongs to no package"


def check_dpkg_install(package, work):
    """dpkg installs the Linux board library's package into scratch roots, never over a maker's library."""
    def dpkg(root, *action):
        command = ["dpkg", f"--root={root}", "--force-script-chrootless", "--force-not-root", "--force-depends",
                   "--force-architecture", *action]
        return subprocess.run(command, capture_output=True, text=True, env=clean_env())

    def fresh_root(name):
        """An empty system, with the users and groups that base-passwd gives every Debian system (dialout)."""
        root = os.path.join(work, name)
        for folder in ["var/lib/dpkg/info", "var/lib/dpkg/updates", "usr/lib", "etc"]:
            os.makedirs(os.path.join(root, folder))
        open(os.path.join(root, "var/lib/dpkg/status"), "w").close()
        pathlib.Path(root, "etc/passwd").write_text("root:x:0:0:root:/root:/bin/bash\n")
        pathlib.Path(root, "etc/group").write_text("root:x:0:\ndialout:x:20:\n")
        return root

    def refused(root, what, step):
        library = os.path.join(root, "usr/lib/libmarlek.so")
        what_is_there = lambda: os.readlink(library) if os.path.islink(library) else pathlib.Path(library).read_bytes()  # noqa: E731
        before = what_is_there()
        result = dpkg(root, "-i", package)
        if result.returncode == 0 or f"{library} {REFUSAL}" not in result.stderr or what_is_there() != before:
            fail(f"{step}, dpkg -i {os.path.basename(package)} over {what} at {library} does not refuse with "
                 f"the text, or changes it:\n{result.stdout}{result.stderr}")

    for number, (what, make) in enumerate(FOREIGN_LIBRARIES):
        root = fresh_root(f"foreign{number}")
        make(os.path.join(root, "usr/lib/libmarlek.so"))
        refused(root, what, "into a root with the maker's library")

    root = fresh_root("clean")
    group = os.path.join(root, "etc", "group")
    passwd = os.path.join(root, "etc", "passwd")
    socket_link = os.path.join(root, "etc/systemd/system/sockets.target.wants", SOCKET_UNIT)
    state_folder = os.path.join(root, "var/lib/marlek-board")
    sysusers = shutil.which("systemd-sysusers")

    def links():
        """Each link under the root's /etc/systemd, and whether it enables a unit: the one it names is there."""
        found = {}
        for folder, folders, files in os.walk(os.path.join(root, "etc/systemd")):
            for name in folders + files:
                path = os.path.join(folder, name)
                if os.path.islink(path):
                    found[os.path.relpath(path, root)] = os.path.isfile(os.path.join(root, os.readlink(path).lstrip("/")))
        return found

    def install(step, enabled=True):
        result = dpkg(root, "-i", package)
        if result.returncode != 0 or not os.path.isfile(os.path.join(root, "usr/lib/libmarlek.so")):
            fail(f"{step} into a clean root, {os.path.basename(package)} fails:\n{result.stdout}{result.stderr}")
        units = [os.path.join(root, UNITS, unit) for unit in (SOCKET_UNIT, SERVICE_UNIT)]
        expected = {os.path.relpath(socket_link, root): True} if enabled else {}
        if not all(os.path.isfile(unit) for unit in units) or links() != expected or (
                enabled and os.readlink(socket_link) != f"/{UNITS}/{SOCKET_UNIT}"):
            fail(f"{step}, {LINUX} leaves the units {units} and the links {links()} in its root, expected the units "
                 f"and {expected}:\n{result.stdout}{result.stderr}")

    def user_and_groups(step):
        """Where systemd-sysusers is at hand: the group gpio, and the user marlek-board in gpio and dialout."""
        if not sysusers:
            return
        groups = {line.split(":")[0]: line.split(":")[3].split(",")
                  for line in pathlib.Path(group).read_text().splitlines()}
        if "gpio" not in groups or not re.search(r"^marlek-board:x:\d+:\d+:[^:]*:[^:]*:/usr/sbin/nologin$",
                                                 pathlib.Path(passwd).read_text(), re.M) or any(
                "marlek-board" not in groups.get(name, []) for name in ("gpio", "dialout")):
            fail(f"{step}, with {sysusers} at hand, {LINUX} leaves no group gpio, or no system user marlek-board in "
                 f"gpio and dialout:\n{pathlib.Path(passwd).read_text()}{pathlib.Path(group).read_text()}")

    install("installed")
    user_and_groups("installed")
    # An administrator's disabled socket stays disabled when the package is installed again.
    os.remove(socket_link)
    install("disabled, then installed again", enabled=False)
    os.symlink(f"/{UNITS}/{SOCKET_UNIT}", socket_link)  # enabled again, as systemctl enable does
    result = dpkg(root, "-r", LINUX)
    if result.returncode != 0 or os.path.lexists(os.path.join(root, "usr/lib/libmarlek.so")) or any(
            links().values()):
        fail(f"dpkg -r {LINUX} fails, leaves its library, or leaves a unit enabled ({links()}):\n"
             f"{result.stdout}{result.stderr}")
    # Removed and installed again, the socket is enabled as it was before.
    install("removed, then installed again")
    result = dpkg(root, "-r", LINUX)
    if result.returncode != 0:
        fail(f"dpkg -r {LINUX} fails:\n{result.stdout}{result.stderr}")
    os.makedirs(os.path.join(root, "usr/lib"), exist_ok=True)  # dpkg took the folder away with the package
    FOREIGN_LIBRARIES[0][1](os.path.join(root, "usr/lib/libmarlek.so"))
    refused(root, "a file", "removed")
    os.remove(os.path.join(root, "usr/lib/libmarlek.so"))
    # What the service kept of the board goes with the package.
    os.makedirs(state_folder)
    pathlib.Path(state_folder, "board.state").write_text("marlek-boardd state 1\n")
    result = dpkg(root, "--purge", LINUX)
    if result.returncode != 0 or links() or os.path.lexists(state_folder):
        fail(f"dpkg --purge {LINUX} fails, or leaves the links {links()} or the state folder {state_folder}:\n"
             f"{result.stdout}{result.stderr}")
    user_and_groups("purged")


def dpkg_buildflags(fortify):
    """A Debian packager's flags: dpkg-buildflags' with CPPFLAGS in CXXFLAGS, at a level of _FORTIFY_SOURCE."""
    listing = subprocess.run(["dpkg-buildflags", "--export=sh"], cwd=ROOT, capture_output=True, text=True,
                             check=True).stdout
    flags = dict(shlex.split(line)[1].split("=", 1) for line in listing.splitlines() if line.startswith("export "))
    cppflags = re.sub(r"-D_FORTIFY_SOURCE=\d", f"-D_FORTIFY_SOURCE={fortify}", flags["CPPFLAGS"])
    return {"CFLAGS": flags["CFLAGS"], "CXXFLAGS": f"{flags['CXXFLAGS']} {cppflags}", "LDFLAGS": flags["LDFLAGS"]}


# The simulated library and pinio built in a folder of their own: (how, the
# caller's flags, the one level of _FORTIFY_SOURCE each compilation has, whether
# what is built is what the .deb files hold).
OTHER_BUILDS = [
    ("with no flags", {}, "2", True),
    ("with dpkg-buildflags' flags and _FORTIFY_SOURCE=3", dpkg_buildflags(3), "3", False),
]
# What the .deb files hold of such a build, and where it is built (the library
# first: it is stripped before it is compared).
BUILT_ALIKE = [
    (SIM_LIBRARY, "marlek_sim/libmarlek.so"),
    ("usr/share/man/man1/pinio.1.gz", "man/pinio.1.gz"),
    ("usr/share/doc/marlek-board-tools/changelog.Debian.gz", "packaging/changelog.Debian.gz"),
]


def check_other_builds(root):
    for how, flags, fortify, alike in OTHER_BUILDS:
        env = {key: value for key, value in os.environ.items() if key not in ("CFLAGS", "CXXFLAGS", "LDFLAGS")}
        with tempfile.TemporaryDirectory() as build:
            steps = [["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                      "-DMARLEK_BUILD_TESTS=OFF", "-DMARLEK_BUILD_BENCH=OFF"],
                     ["cmake", "--build", build, "-j", "2", "--target", "marlek", "pinio", "man_pages",
                      "debian_changelog"]]
            for step in steps:
                result = subprocess.run(step, env={**env, **flags}, capture_output=True, text=True)
                if result.returncode != 0 or "warning" in result.stdout + result.stderr:
                    fail(f"built {how}, {' '.join(step[:2])} fails or warns:\n{result.stdout}{result.stderr}")
            commands = subprocess.run(["ninja", "-C", build, "-t", "commands", "pinio"], capture_output=True,
                                      text=True, check=True).stdout
            for command in (line for line in commands.splitlines() if " -c " in line):
                if re.findall(r"-D_FORTIFY_SOURCE=(\w*)", command) != [fortify]:
                    fail(f"built {how}, a compilation does not define _FORTIFY_SOURCE={fortify} once: {command}")
            if alike:
                subprocess.run(["strip", os.path.join(build, BUILT_ALIKE[0][1])], check=True)  # as CPack does
                for packed, built in BUILT_ALIKE:
                    with open(os.path.join(root, packed.format(multiarch=multiarch())), "rb") as one, open(os.path.join(build, built), "rb") as other:
                        if one.read() != other.read():
                            fail(f"{packed} built in another folder differs from the one packed")


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
            if shipped.read() != kept.read().replace(b"\n", b"\r\n"):
                fail("LICENSE in the .zip is not the project's with CRLF line ends")
        check_repacked(build_dir, packages)

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
    print(f"{os.path.basename(packages[0])}: laid out as expected, reproducible; "
          "marlek-sim.exe run starts each program")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--architecture", help="the Debian architecture of the .deb files (default: the machine's)")
    parser.add_argument("linux_build_dir")
    parser.add_argument("windows_build_dir", nargs="?")
    args = parser.parse_args()
    architecture = args.architecture or subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                                                       text=True, check=True).stdout.strip()
    check_debs(args.linux_build_dir, architecture)
    if args.windows_build_dir:
        subprocess.run([WINE_RUN, os.path.join(args.windows_build_dir, "wineprefix"), "--start"], check=True)
        try:
            check_zip(args.windows_build_dir)
        finally:
            subprocess.run([WINE_RUN, os.path.join(args.windows_build_dir, "wineprefix"), "--stop"], check=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
