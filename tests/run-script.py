#!/usr/bin/env python3
"""Runs one behaviour script through the real program and compares exactly.

    run-script.py PROGRAM SCRIPT.zir

SCRIPT.out holds the expected standard output, byte for byte; SCRIPT.status
the expected exit status (0 when the file is absent); SCRIPT.args, when
present, extra command-line arguments placed before the script (one per line;
a line %SCRIPT% puts the script there instead, so arguments can follow it;
a line %NO-SCRIPT% leaves the script out: a console session fed by SCRIPT.in);
SCRIPT.in, when present, is fed to standard input.

    run-script.py --self-test

checks the runner itself against stand-in programs.
"""
import os
import subprocess
import sys
import tempfile

TIMEOUT = 300


def read(path, default=None, mode="rb"):
    if not os.path.exists(path):
        return default
    with open(path, mode) as f:
        return f.read()


def run(program, script):
    base = script[: -len(".zir")] if script.endswith(".zir") else script
    expected_out = read(base + ".out", b"")
    expected_status = int((read(base + ".status", "0", "r") or "0").strip())
    args = [a for a in (read(base + ".args", "", "r") or "").splitlines() if a]
    stdin = read(base + ".in", b"")
    if "%NO-SCRIPT%" in args:
        command = [program] + [a for a in args if a != "%NO-SCRIPT%"]
    elif "%SCRIPT%" in args:
        command = [program] + [script if a == "%SCRIPT%" else a for a in args]
    else:
        command = [program] + args + [script]
    # A home of its own: the console's configuration file lives there.
    home = tempfile.TemporaryDirectory()
    proc = subprocess.run(
        command,
        env=dict(os.environ, HOME=home.name),
        input=stdin,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        timeout=TIMEOUT,
        cwd=os.path.dirname(os.path.abspath(script)),
    )
    home.cleanup()
    problems = []
    if proc.stdout != expected_out:
        problems.append(
            "standard output differs\n--- expected\n%s\n--- got\n%s"
            % (expected_out.decode("utf-8", "replace"), proc.stdout.decode("utf-8", "replace"))
        )
    if proc.returncode != expected_status:
        problems.append("exit status %d, expected %d" % (proc.returncode, expected_status))
    if problems and proc.stderr:
        problems.append("standard error:\n" + proc.stderr.decode("utf-8", "replace"))
    return problems


def self_test():
    failures = 0
    with tempfile.TemporaryDirectory() as d:
        prog = os.path.join(d, "prog")
        with open(prog, "w") as f:
            f.write('#!/bin/sh\nprintf "hello\\n"\nexit 3\n')
        os.chmod(prog, 0o755)
        script = os.path.join(d, "t.zir")
        open(script, "w").close()
        cases = [
            ("hello\n", "3", True),     # output and status match
            ("hello", "3", False),      # missing final newline is a difference
            ("hello\n", "0", False),    # wrong status
            ("Hello\n", "3", False),    # one byte differs
        ]
        for out, status, should_pass in cases:
            with open(os.path.join(d, "t.out"), "w") as f:
                f.write(out)
            with open(os.path.join(d, "t.status"), "w") as f:
                f.write(status)
            passed = not run(prog, script)
            if passed != should_pass:
                failures += 1
                print("runner self-test failed for", repr(out), status)
    return failures


def main():
    if sys.argv[1:] == ["--self-test"]:
        sys.exit(1 if self_test() else 0)
    if len(sys.argv) != 3:
        print(__doc__)
        sys.exit(2)
    problems = run(sys.argv[1], sys.argv[2])
    for p in problems:
        print(p)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
