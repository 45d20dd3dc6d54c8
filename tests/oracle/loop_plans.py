#!/usr/bin/python3
"""Loop rounds run from plans against the same rounds walked.

    loop_plans.py BUILD_DIR

The reference is the interpreter's own walk: `ZIR_BODY_PLANS=0` turns the
plans off. Seeded random programs run loop bodies made of what plans take
(set-words, operands and operators of every kind, if, unless and either
with chosen blocks that set, leave or are walked) mixed with statements
that change what the plans rely on: the operator's and the conditional's
words given other values, the words read turned into other types, the body
block itself changed, cleared, reversed or grown, collections forced (what
`recycle` answers varies from run to run: it is not shown). Each program
must print the same text and end with the same status both ways.
"""
import os
import random
import subprocess
import sys
import tempfile

GLOBALS = ["a", "b", "c", "s"]
OPERATORS = ["+", "-", "*", "<", ">", "=", "<>", ">=", "<=", "and", "or", "xor", "/", "//", "%"]
HOSTILE = [
    "set '+ :-", "set '+ :plus", "set 'a \"t\"", "a: func [x] [x]", "unset 'c", "c: 1",
    "poke body 1 first [s:]", "change next body [b]", "append body [a: a + 1]", "clear skip body 4",
    "reverse body", "poke body 3 to word! \"-\"", "if: func [c b] [none]", "if: :my-if",
    "either: :my-either", "big", "recycle none", "append log i", "log: copy []", "blk/2: i",
]


def operand(r):
    k = r.random()
    if k < 0.45:
        return r.choice(GLOBALS + ["i"])
    if k < 0.75:
        return str(r.randint(-5, 30))
    if k < 0.85:
        return r.choice(["0.5", "2.25", "-1.5"])
    if k < 0.9:
        return r.choice(["o/v", "blk/2", "blk/9"])
    if k < 0.95:
        return r.choice(["true", "none", '"x"'])
    return r.choice(["2147483600", "-2147483600"])


def expression(r, n=None):
    n = r.randint(0, 3) if n is None else n
    out = operand(r)
    for _ in range(n):
        out += " " + r.choice(OPERATORS) + " " + operand(r)
    return out


def chosen_block(r):
    k = r.random()
    if k < 0.6:
        return r.choice(GLOBALS) + ": " + expression(r, r.randint(0, 2))
    if k < 0.7:
        return expression(r, r.randint(0, 1))
    if k < 0.8:
        return r.choice(["break", "continue", "break/return s"])
    if k < 0.85:
        return ""
    return statement(r, True)


def statement(r, nested=False):
    k = r.random()
    if k < 0.4:
        return r.choice(GLOBALS) + ": " + expression(r)
    if k < 0.5:
        return expression(r)
    if k < 0.75 and not nested:
        word = r.choice(["if", "unless", "either"])
        out = word + " " + expression(r, r.randint(0, 2))
        for _ in range(2 if word == "either" else 1):
            out += " [" + chosen_block(r) + "]"
        return out
    return r.choice(HOSTILE)


PRELUDE = """Zir []
plus: :+ my-if: :if my-either: :either
big: does [loop 10 [copy "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"]]
o: make object! [v: 3] blk: [10 20 30]
show: func [code] [
    log: copy [] a: 1 b: 2 c: 3 s: 0 body: copy/deep code
    set/any 'r try [repeat i 7 body]
    set '+ :plus if: :my-if either: :my-either
    print either error? get/any 'r [rejoin ["error " r/id " " mold r/near]] [mold/all get/any 'r]
    print mold/all reduce [log a b c s]
]
"""


def program(seed):
    r = random.Random(seed)
    lines = [PRELUDE]
    for _ in range(25):
        lines.append("show [" + " ".join(statement(r) for _ in range(r.randint(1, 4))) + "]")
    return "\n".join(lines) + "\n"


def run(zir, path, plans):
    # A home of its own: the console saves its configuration there at the
    # end, and other programs running at the same time must not meet it.
    env = dict(os.environ)
    env["HOME"] = os.path.dirname(path)
    if not plans:
        env["ZIR_BODY_PLANS"] = "0"
    p = subprocess.run([zir, path], capture_output=True, env=env, timeout=120)
    return p.returncode, p.stdout


def main():
    zir = os.path.join(sys.argv[1], "zir")
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for seed in range(1, 201):
            path = os.path.join(folder, "p%d.zir" % seed)
            with open(path, "w") as f:
                f.write(program(seed))
            walked = run(zir, path, False)
            planned = run(zir, path, True)
            if walked != planned:
                failures += 1
                print("seed %d: walked status %d, planned status %d" % (seed, walked[0], planned[0]))
                print(program(seed))
                w = walked[1].decode(errors="replace").splitlines()
                p = planned[1].decode(errors="replace").splitlines()
                for i in range(max(len(w), len(p))):
                    a = w[i] if i < len(w) else "<none>"
                    b = p[i] if i < len(p) else "<none>"
                    if a != b:
                        print("line %d: walked %r, planned %r" % (i + 1, a, b))
                        break
    if failures:
        print("%d of 200 programs differ" % failures)
        sys.exit(1)
    print("200 programs alike, planned and walked")


main()
