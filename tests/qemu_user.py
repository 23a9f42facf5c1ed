"""What the tests leave out when the programs run under QEMU's user-mode
emulation (qemu-user: the arm64 build's tests and packages), each case with
the reason it cannot work there. This is the one list of them: a test script
hands its emulator and its test classes to skip_what_qemu_user_cannot_run;
tests/packaging/check_packages.py names the reason of what it leaves out.
"""
import os
import unittest

ROBUST_MUTEX = ("a writer killed while it holds the board's mutex hands it on through the kernel's robust futex "
                "list, and qemu-user does not pass set_robust_list on to the kernel (it answers ENOSYS), so the "
                "mutex of a killed emulated writer stays held")
PROGRAM_ON_PATH = ("the program that marlek-sim run finds on PATH is an arm64 program, which the kernel starts only "
                   "through a binfmt_misc entry of the machine's own, and the tests depend on none (the other cases "
                   "of marlek-sim run have it execute the emulator with the program)")

SKIPPED = {
    "Concurrency.test_writers_killed_at_any_moment_leave_a_board_that_loads": ROBUST_MUTEX,
    "RunProgram.test_a_name_is_looked_up_on_path": PROGRAM_ON_PATH,
}


def under_qemu_user(emulator):
    """True when the emulator command runs QEMU's user-mode emulation."""
    return any(os.path.basename(word).startswith("qemu-") for word in emulator)


def skip_what_qemu_user_cannot_run(emulator, namespace):
    """Marks each case of SKIPPED among the test classes of namespace (a
    module's globals) as skipped, with its reason, when emulator is qemu-user."""
    if not under_qemu_user(emulator):
        return
    for name, reason in SKIPPED.items():
        class_name, method = name.split(".")
        test_class = namespace.get(class_name)
        if test_class is not None:
            setattr(test_class, method, unittest.skip(f"under qemu-user: {reason}")(getattr(test_class, method)))
