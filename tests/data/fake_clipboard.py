#!/usr/bin/python3
"""Stands in for wl-copy, wl-paste and xclip in the clipboard's tests.

Called through a link of one of those names. The clipboard is a JSON file
named by FAKE_CLIPBOARD: a list of [type, base64 data] pairs in the order
they are offered. Each call appends its arguments as one line to the file
FAKE_CLIPBOARD + ".log". With FAKE_CLIPBOARD_HANG set, every call sleeps
for a minute first (for time-outs).
"""
import base64
import json
import os
import sys
import time

state_path = os.environ["FAKE_CLIPBOARD"]
with open(state_path + ".log", "a") as log:
    log.write(" ".join([os.path.basename(sys.argv[0])] + sys.argv[1:]) + "\n")
if os.environ.get("FAKE_CLIPBOARD_HANG"):
    time.sleep(60)


def load():
    try:
        with open(state_path) as f:
            return [(t, base64.b64decode(d)) for t, d in json.load(f)]
    except FileNotFoundError:
        return []


def save(pairs):
    with open(state_path, "w") as f:
        json.dump([[t, base64.b64encode(d).decode()] for t, d in pairs], f)


def answer(type_):
    for t, data in load():
        if t == type_:
            sys.stdout.buffer.write(data)
            return 0
    sys.stderr.write("not offered: %s\n" % type_)
    return 1


def types():
    pairs = load()
    if not pairs:
        sys.stderr.write("Nothing is copied\n")
        return 1
    for t, _ in pairs:
        print(t)
    return 0


def main():
    name = os.path.basename(sys.argv[0])
    args = sys.argv[1:]
    if name == "wl-copy":
        if args == ["--clear"]:
            save([])
        else:
            assert args[0] == "--type" and len(args) == 2
            save([(args[1], sys.stdin.buffer.read())])
        return 0
    if name == "wl-paste":
        if args == ["--list-types"]:
            return types()
        assert args[:2] == ["--no-newline", "--type"] and len(args) == 3
        return answer(args[2])
    if name == "xclip":
        assert args[:2] == ["-selection", "clipboard"]
        args = args[2:]
        if args[0] == "-o":
            assert args[1] == "-t"
            if args[2] == "TARGETS":
                return types()
            return answer(args[2])
        assert args[0] == "-t" and args[2] == "-i"
        save([(args[1], sys.stdin.buffer.read())])
        return 0
    return 2


sys.exit(main())
