#!/usr/bin/env python3
"""The parse dialect against Python's re, over generated rules and inputs.

    parse.py BUILD_DIR

Each rule is generated as a tree and written twice: as parse rules and as a
regular expression whose `re.fullmatch` must agree with the parse result.
The mapping:
  "text"          the text, case-insensitive (parse compares text without
                  regard to case unless /case is given; re.IGNORECASE)
  digit vowel     charsets, case-sensitive: a bitset holds code points, it
  upper           does not fold case, so the class is written (?-i:[...])
  skip            any one character (DOTALL)
  end             \\Z
  [a b | c]       (?>ab|c): alternatives in order, the first that matches
                  wins and is not undone (parse never backtracks into a
                  block that succeeded)
  any/some/opt/n  possessive repeats *+ ++ ?+ {n}+ {n,m}+ of an atomic group
  not x, ahead x  (?!x) (?=x)
  to x, thru x    (?>[\\s\\S]*?(?=x)) and (?>[\\s\\S]*?(?>x)): the first place
                  where x matches, searched up to and including the end
Deliberate difference: a repetition whose sub-rule matched without
consuming anything stops (parse's guard against endless loops); a
possessive regex repeat does the same, so the generated rules keep the two
in step; `while` (which has no such guard) is not generated.
The texts are ASCII over a small alphabet, so that rules match often.
"""
import random
import re
import subprocess
import sys

ALPHABET = "aAb1 e"
CLASSES = {"digit": "[0-9]", "vowel": "[aeiou]", "upper": "[A-Z]"}


def literal(rng):
    n = rng.choice([0, 1, 1, 1, 2, 2, 3])
    return "".join(rng.choice(ALPHABET) for _ in range(n))


def gen(rng, depth):
    """Answers (parse text, regex text, nullable) for one rule; nullable
    when it may match without consuming anything."""
    r = rng.random()
    if depth <= 0 or r < 0.35:
        k = rng.random()
        if k < 0.55:
            t = literal(rng)
            return '"%s"' % t, re.escape(t), t == ""
        if k < 0.75:
            name = rng.choice(sorted(CLASSES))
            return name, "(?-i:%s)" % CLASSES[name], False
        if k < 0.93:
            return "skip", ".", False
        return "end", r"\Z", True
    if r < 0.55:
        # A block: alternatives of sequences.
        alts = []
        for _ in range(rng.choice([1, 1, 2, 3])):
            seq = [gen(rng, depth - 1) for _ in range(rng.choice([1, 2, 3]))]
            alts.append(seq)
        ptext = " | ".join(" ".join(p for p, _, _ in seq) for seq in alts)
        rtext = "|".join("".join("(?>%s)" % x for _, x, _ in seq) for seq in alts)
        nullable = any(all(n for _, _, n in seq) for seq in alts)
        return "[%s]" % ptext, "(?>%s)" % rtext, nullable
    sub_p, sub_r, sub_n = gen(rng, depth - 1)
    g = "(?>%s)" % sub_r
    k = rng.random()
    if k < 0.15:
        return "any " + sub_p, "(?:%s)*+" % g, True
    if k < 0.3:
        return "some " + sub_p, "(?:%s)++" % g, sub_n
    if k < 0.4:
        return "opt " + sub_p, "(?:%s)?+" % g, True
    # Counts take their sub-rule in a block, so that a sub-rule beginning
    # with a count or a keyword with arguments is one rule. A repetition
    # whose sub-rule matched nothing stops at once, so a sub-rule that may
    # match nothing is counted at most once at the minimum.
    top = 1 if sub_n else 3
    if k < 0.5:
        n = rng.randint(0, top)
        return "%d [%s]" % (n, sub_p), "(?:%s){%d}+" % (g, n), sub_n or n == 0
    if k < 0.6:
        n = rng.randint(0, min(top, 2))
        m = n + rng.randint(0, 2)
        return "%d %d [%s]" % (n, m, sub_p), "(?:%s){%d,%d}+" % (g, n, m), sub_n or n == 0
    if k < 0.7:
        return "not " + sub_p, "(?!%s)" % g, True
    if k < 0.8:
        return "ahead " + sub_p, "(?=%s)" % g, True
    if k < 0.9:
        return "to " + sub_p, r"(?>[\s\S]*?(?=%s))" % g, True
    return "thru " + sub_p, r"(?>[\s\S]*?%s)" % g, sub_n


def main():
    build = sys.argv[1]
    rng = random.Random(20261210)
    requests, expected, shown = [], [], []
    for _ in range(6000):
        ptext, rtext, _ = gen(rng, rng.randint(1, 4))
        pattern = re.compile(rtext, re.IGNORECASE | re.DOTALL)
        for _ in range(4):
            text = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 8)))
            want = "1" if pattern.fullmatch(text) else "0"
            rules = "[%s]" % ptext
            requests.append("%s %s" % (rules.encode().hex(), text.encode().hex()))
            expected.append(want)
            shown.append((rules, rtext, text))
    proc = subprocess.run([build + "/zir-tool-parse"], input="\n".join(requests).encode() + b"\n",
                          stdout=subprocess.PIPE, timeout=1200)
    if proc.returncode != 0:
        print("zir-tool-parse failed with status", proc.returncode)
        return 1
    answers = proc.stdout.decode().splitlines()
    if len(answers) != len(requests):
        print("expected %d answers, got %d" % (len(requests), len(answers)))
        return 1
    failures = 0
    for (rules, rtext, text), want, got in zip(shown, expected, answers):
        if got != want:
            failures += 1
            if failures <= 20:
                print("parse %r %s: expected %s, got %s (regex %s)" % (text, rules, want, got, rtext))
    print("%d requests, %d mismatches" % (len(requests), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
