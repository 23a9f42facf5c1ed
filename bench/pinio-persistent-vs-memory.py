#!/usr/bin/env python3
"""Times a scripted pinio session of write-byte answers against the shared
board (a state file) and against a private in-memory board, and prints both
times and their ratio. The sessions alternate, each is run several times, and
the fastest run of each kind counts, so that other load on the machine weighs
as little as it can. Beside the elapsed time it gives the processor time pinio
took (user and system), which other load disturbs far less.

  bench/pinio-persistent-vs-memory.py [--build DIR] [--answers N] [--runs R]
                                      [--discard-output] [--limit RATIO]

The transcript of each session goes to a file (or with --discard-output to
/dev/null, which leaves the program the least work of its own and so is the
harder comparison). Exits 1 when a session fails or the ratio exceeds --limit.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

SENT = b"is sent to GPIO Pins"


def session(answers):
    """Write byte (choice 3), the answers 0, 1, ..., 255, 0, ..., then q twice."""
    return ("3\n" + "".join(f"{i % 256}\n" for i in range(answers)) + "q\nq\n").encode()


def run(pinio, state, script_path, output_path, errors_path):
    """One session; its elapsed and its processor time."""
    env = {key: value for key, value in os.environ.items() if not key.startswith("MARLEK_SIM_")}
    env["MARLEK_SIM_STATE"] = state
    # Standard input from a file: pinio never waits for this script to write.
    with open(script_path, "rb") as script, open(output_path, "wb") as output, open(errors_path, "wb") as errors:
        start = time.perf_counter()
        process = subprocess.Popen([pinio], stdin=script, stdout=output, stderr=errors, env=env)
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)
    with open(errors_path, "rb") as errors:
        error_text = errors.read()
    if process.returncode != 0 or error_text:
        raise SystemExit(f"pinio failed on {state}: status {process.returncode}, {error_text[:300]!r}")
    return elapsed, usage.ru_utime + usage.ru_stime


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(root, "build", "default"))
    parser.add_argument("--answers", type=int, default=100_000)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--discard-output", action="store_true")
    parser.add_argument("--limit", type=float, default=1.5)
    args = parser.parse_args()

    pinio = os.path.join(args.build, "dio", "pinio", "pinio")
    if not os.access(pinio, os.X_OK):
        raise SystemExit(f"no pinio at {pinio}: build first (cmake --workflow --preset default)")
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    with tempfile.TemporaryDirectory(prefix="marlek-bench-", dir=runtime if runtime else None) as work:
        state = os.path.join(work, "marlek-sim.board")
        script = os.path.join(work, "answers")
        with open(script, "wb") as file:
            file.write(session(args.answers))
        transcript = os.devnull if args.discard_output else os.path.join(work, "transcript")
        errors = os.path.join(work, "errors")
        times = {"memory": [], state: []}
        run(pinio, state, script, transcript, errors)  # creates the state file; the page cache warms up
        for _ in range(args.runs):
            for where in times:
                times[where].append(run(pinio, where, script, transcript, errors))
                if not args.discard_output:
                    with open(transcript, "rb") as file:
                        sent = file.read().count(SENT)
                    if sent != args.answers:
                        raise SystemExit(f"the session on {where} sent {sent} bytes, not {args.answers}")

    print(f"{args.answers} write-byte answers through pinio, fastest of {args.runs} runs each "
          f"(median in brackets), transcript to {'/dev/null' if args.discard_output else 'a file'}:")
    print("                    elapsed                processor")
    fastest = {}
    for name, where in (("in-memory board", "memory"), ("persistent board", state)):
        elapsed = [run[0] for run in times[where]]
        processor = [run[1] for run in times[where]]
        fastest[where] = (min(elapsed), min(processor))
        print(f"  {name + ':':18}{min(elapsed):.3f} s ({statistics.median(elapsed):.3f} s)"
              f"    {min(processor):.3f} s ({statistics.median(processor):.3f} s)")
    ratio = fastest[state][0] / fastest["memory"][0]
    processor_ratio = fastest[state][1] / max(fastest["memory"][1], 1e-6)
    print(f"  {'ratio:':18}{ratio:.2f}                   {processor_ratio:.2f}    (at most {args.limit})")
    return 0 if ratio <= args.limit else 1


if __name__ == "__main__":
    sys.exit(main())
