#!/usr/bin/env python3
"""The console's line editor in a real terminal (tmux), 80x24 to start.

    line_editor.py BUILD_DIR

Each case starts the console in its own tmux server with a fresh HOME,
types keys and waits until the screen shows what it must. The program runs
under a shell that records `stty -g` before and after it and its exit
status, so a terminal left in raw mode is seen.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

TIMEOUT = 30   # seconds a screen may take to appear (a slow, shared machine)
PROMPT = ">> "


class Session:
    def __init__(self, program, home, width=80, height=24, args=""):
        self.sock = "zir-le-%d-%d" % (os.getpid(), time.monotonic_ns())
        self.dir = home
        self.status_file = os.path.join(home, "status")
        shell = (
            "stty -g > {d}/before; HOME={home} {prog} {args}; echo $? > {d}/status.tmp; "
            "stty -g > {d}/after; mv {d}/status.tmp {d}/status; sleep 600"
        ).format(d=home, home=home, prog=program, args=args)
        subprocess.run(["tmux", "-L", self.sock, "-f", "/dev/null", "new-session", "-d",
                        "-x", str(width), "-y", str(height), "sh", "-c", shell], check=True)

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.sock] + list(args), check=True,
                              stdout=subprocess.PIPE).stdout.decode("utf-8", "replace")

    def screen(self):
        return self.tmux("capture-pane", "-p")

    def rows(self):
        return self.screen().split("\n")

    def keys(self, *keys):
        self.tmux("send-keys", *keys)

    def type(self, text):
        self.tmux("send-keys", "-l", text)

    def wait(self, test, what):
        end = time.monotonic() + TIMEOUT
        while time.monotonic() < end:
            s = self.screen()
            if test(s):
                return s
            time.sleep(0.02)
        raise AssertionError("timed out waiting for %s; screen:\n%s" % (what, self.screen()))

    def wait_text(self, text):
        return self.wait(lambda s: text in s, repr(text))

    def cursor(self):
        x, y = self.tmux("display", "-p", "#{cursor_x} #{cursor_y}").split()
        return int(x), int(y)

    def pid(self):
        return int(self.tmux("display", "-p", "#{pane_pid}"))

    def exit_status(self):
        end = time.monotonic() + TIMEOUT
        while time.monotonic() < end:
            if os.path.exists(self.status_file):
                with open(self.status_file) as f:
                    return int(f.read().strip())
            time.sleep(0.02)
        raise AssertionError("the program did not end; screen:\n%s" % self.screen())

    def modes_kept(self):
        with open(os.path.join(self.dir, "before")) as f:
            before = f.read()
        with open(os.path.join(self.dir, "after")) as f:
            after = f.read()
        return before == after

    def close(self):
        subprocess.run(["tmux", "-L", self.sock, "kill-server"], stderr=subprocess.DEVNULL)


def child_pid(shell_pid):
    """The console's process: the child of the pane's shell."""
    end = time.monotonic() + TIMEOUT
    while time.monotonic() < end:
        out = subprocess.run(["ps", "-o", "pid=", "--ppid", str(shell_pid)], stdout=subprocess.PIPE).stdout.split()
        if out:
            return int(out[0])
        time.sleep(0.02)
    raise AssertionError("no console process")


def history_file(home):
    path = os.path.join(home, ".zir", "Zir-Console", "console-cfg.zir")
    with open(path) as f:
        return f.read()


CASES = []


def case(fn):
    CASES.append(fn)
    return fn


def started(s):
    s.wait(lambda t: t.rstrip().endswith(PROMPT.rstrip()), "the first prompt")


def ask_prompt(s):
    # The prompt of `ask` on a row of its own: the typed command shows
    # "pw: " too, and keys sent before the edit begins are echoed by the tty.
    s.wait(lambda t: any(r.rstrip() == "pw:" for r in t.split("\n")), "the ask prompt")


@case
def typing_editing_and_enter(s, home):
    started(s)
    s.type("1 + 2")
    s.wait_text(">> 1 + 2")
    s.keys("Enter")
    s.wait_text("== 3")
    # Left, Home/Ctrl-A, End/Ctrl-E, Backspace, Delete, Ctrl-K
    s.type("abc")
    s.keys("Left", "Left", "BSpace")        # "bc" after an emptied "a"
    s.type("x")                             # "xbc"
    s.keys("Home")
    s.type("1 + ")
    s.keys("End", "BSpace", "BSpace")        # "1 + x"
    s.keys("C-a", "Right", "Right", "Right", "Right", "C-k")
    s.type("4")
    s.wait_text(">> 1 + 4")
    s.keys("C-a", "DC", "C-e")               # Delete removes the "1"
    s.wait(lambda t: ">>  + 4" in t, "delete at the line's start")
    s.keys("C-a")
    s.type("2")
    s.keys("Enter")
    s.wait_text("== 6")
    s.wait(lambda t: t.rstrip().endswith(">>"), "the next prompt")
    assert s.cursor()[0] == 3


@case
def history_recall(s, home):
    started(s)
    for n in ("11", "22", "22"):
        s.type(n)
        s.keys("Enter")
        s.wait_text("== " + n)
    s.keys("Up")
    s.wait(lambda t: t.rstrip().endswith(">> 22"), "newest entry")
    s.keys("Up")                              # the same line twice is stored once
    s.wait(lambda t: t.rstrip().endswith(">> 11"), "older entry")
    s.keys("Up")                              # past the oldest: empty
    s.wait(lambda t: t.rstrip().endswith(">>"), "emptied line")
    s.keys("C-p", "Down")                     # Down shows the current entry again
    s.wait(lambda t: t.rstrip().endswith(">> 11"), "down")
    s.keys("Enter")
    s.wait(lambda t: t.count("== 11") == 2, "recalled line run")


@case
def tab_completion(s, home):
    started(s)
    s.type("append/on")
    s.keys("Tab")                              # one candidate: completed in place
    s.wait_text(">> append/only")
    s.keys("C-u", "C-a", "C-k")
    s.type("pri")
    s.keys("Tab")                              # several: listed, then the common prefix
    s.wait(lambda t: ">> prin print\n" in t, "the candidates on the prompt's row")
    s.wait(lambda t: t.rstrip().endswith(">> prin"), "the common prefix at the next prompt")
    s.type("t 7")
    s.keys("Enter")
    s.wait_text("\n7")
    os.makedirs(os.path.join(home, "dir"), exist_ok=True)
    open(os.path.join(home, "dir", "alpha.txt"), "w").close()
    s.type('change-dir %' + home + '/dir/')
    s.keys("Enter")
    s.wait_text("== %" + home + "/dir/")
    s.type("print %al")
    s.keys("Tab")
    s.wait_text(">> print %alpha.txt")
    s.keys("Enter")
    s.wait_text("\nalpha.txt")


@case
def long_line_and_wide_character(s, home):
    started(s)
    text = "x" * 76 + "\u4e2d"                 # the wide character would start in column 79
    s.type('print "' + text + '"')
    # 3 + 7 + 76 = 86 cells: the wide character starts at cell 86 of the
    # second row, clear of the edge; the line wraps after 80 cells.
    rows = s.wait(lambda t: "\u4e2d" in t, "the wide character").split("\n")
    start = next(i for i, r in enumerate(rows) if r.startswith('>> print "'))
    assert rows[start] == '>> print "' + "x" * 70, rows[start]
    s.keys("Enter")
    s.wait(lambda t: t.count("\u4e2d") >= 2, "printed")
    # A line ending in column 79 with a wide character after: it goes whole to the next row.
    s.type('print "' + "y" * 69 + "\u4e2d" + 'z"')   # 10 + 69 = 79: the wide one meets the last column
    rows = s.wait(lambda t: "z\"" in t and "y" * 69 in t, "wide at the edge").split("\n")
    i = next(i for i, r in enumerate(rows) if r.startswith('>> print "y'))
    assert rows[i] == '>> print "' + "y" * 69, repr(rows[i])
    assert rows[i + 1].startswith('\u4e2dz"'), repr(rows[i + 1])
    x, y = s.cursor()
    assert (x, y) == (4, i + 1), (x, y, i)   # after the wide character (2 cells), "z" and the quote
    s.keys("Left", "Left", "Left")
    x, y = s.cursor()
    assert (x, y) == (0, i + 1), (x, y)      # on the wide character, at the next row's start
    s.keys("Enter")
    s.wait(lambda t: t.count("z") >= 2, "printed wide")


@case
def resize_follows(s, home):
    started(s)
    s.tmux("resize-window", "-x", "100", "-y", "30")
    s.type("system/console/size")
    s.keys("Enter")
    s.wait_text("== 100x30")


@case
def hidden_input_with_tab(s, home):
    started(s)
    s.type('length? x: ask/hide "pw: "')
    s.keys("Enter")
    ask_prompt(s)
    s.type("pri")
    s.keys("Tab")                               # several candidates: in place, hidden
    s.wait_text("pw: ****")
    s.type("z")
    s.keys("Enter")
    s.wait_text("== 5")
    s.wait(lambda t: t.rstrip().endswith(">>"), "the next prompt, empty")
    assert "pri" not in s.screen().split('ask/hide "pw: "')[1], s.screen()
    s.type("x")
    s.keys("Enter")
    s.wait_text('== "prinz"')                   # completed in place to the common prefix
    s.keys("Up", "Up")                          # the secret is not in the history
    s.wait(lambda t: t.rstrip().endswith('>> length? x: ask/hide "pw: "'), "history without the secret")


@case
def keys_during_completion_stay_unseen(s, home):
    # A slow completion: keys typed while it runs reach the line, and are
    # never echoed by the terminal (the answer is hidden).
    started(s)
    s.type("zir-complete-input: func [a b] [wait 0.6 none] 1")
    s.keys("Enter")
    s.wait_text("== 1")
    s.type('length? x: ask/hide "pw: "')
    s.keys("Enter")
    ask_prompt(s)
    s.type("ab")
    s.wait_text("pw: **")
    s.keys("Tab")
    s.type("sec")
    time.sleep(1.0)
    s.wait_text("pw: ******")                   # a completion that finds nothing puts a tab
    assert "sec" not in s.screen(), s.screen()
    s.keys("Enter")
    s.wait_text("== 6")
    s.type("x")
    s.keys("Enter")
    s.wait_text('== "ab^-sec"')


@case
def ctrl_c_saves_history_once(s, home):
    started(s)
    s.type("1 + 1")
    s.keys("Enter")
    s.wait_text("== 2")
    s.type("abc")
    s.keys("C-c")
    assert s.exit_status() == 0
    assert s.modes_kept()
    assert os.stat(os.path.join(home, ".zir", "Zir-Console")).st_mode & 0o777 == 0o700
    saved = history_file(home)
    assert saved.count('"1 + 1"') == 1 and "abc" not in saved, saved


@case
def ctrl_d_on_empty_line(s, home):
    started(s)
    s.type("ab")
    s.keys("C-d")                               # not empty: nothing
    s.keys("Home", "C-d")                       # deletes the "a"
    s.wait(lambda t: t.rstrip().endswith(">> b"), "ctrl-d deletes")
    s.keys("C-k", "BSpace", "C-d")
    assert s.exit_status() == 0
    assert s.modes_kept()


@case
def prompt_over_several_rows(s, home):
    # Line feeds in the prompt start new rows; the edit and its redraws
    # keep to the prompt's last row.
    started(s)
    s.type('x: ask "first^/^/third> "')
    s.keys("Enter")
    s.wait(lambda t: "\nthird>" in t, "the prompt's last row")
    s.type("abc")
    s.keys("Home")
    s.type("Z")
    rows = s.wait(lambda t: "third> Zabc" in t, "the edited line").split("\n")
    i = rows.index("third> Zabc")
    assert rows[i - 2:i] == ["first", ""], rows
    assert s.cursor() == (8, i), (s.cursor(), i)
    s.keys("Enter")
    s.wait_text('== "Zabc"')


@case
def long_paste(s, home):
    # 200,000 characters typed at the line's end: each is written alone and
    # costs no layout of the whole line, so the paste is done in seconds.
    started(s)
    s.type('length? "')
    chunk = "0123456789" * 400
    for _ in range(50):
        s.type(chunk)
    s.type('"')
    s.keys("Enter")
    s.wait_text("== 200000")


@case
def quit_in_completion_restores_modes(s, home):
    # A completion runs with the terminal quiet (no echo); ending the
    # program from inside it still gives the terminal back as it was.
    started(s)
    s.type("zir-complete-input: func [a b] [quit] 1")
    s.keys("Enter")
    s.wait_text("== 1")
    s.type("pri")
    s.keys("Tab")
    assert s.exit_status() == 0
    assert s.modes_kept(), "terminal modes changed"


def completion_answering_anything(s, home):
    # A completion that answers no block, or throws, completes nothing: the
    # Tab is put in the line and the edit goes on, in a script too.
    s.wait_text("q?")
    s.type("ab")
    s.keys("Tab")
    s.type("c")
    s.keys("Enter")
    s.wait_text("q? ")
    s.type("d")
    s.keys("Tab")
    s.keys("Enter")
    s.wait_text('["ab^-c" "d^-"]')
    assert s.exit_status() == 0
    assert s.modes_kept(), "terminal modes changed"


completion_answering_anything.script = (
    'Zir []\nzir-complete-input: func [a b] ["not a block"]\nx: ask "q? "\n'
    'zir-complete-input: func [a b] [throw 1]\nprint mold reduce [x ask "q? "]\n')
CASES.append(completion_answering_anything)


@case
def ask_inside_completion(s, home):
    # A completion that asks a question of its own: the edit it interrupted
    # goes on afterwards, on a row of its own, and gets its answer.
    started(s)
    s.type('zir-complete-input: func [a b] [reduce [tail append copy head a ask "inner? "]] 1')
    s.keys("Enter")
    s.wait_text("== 1")
    s.type('x: ask "outer? "')
    s.keys("Enter")
    s.wait(lambda t: t.rstrip().endswith("outer?"), "the outer prompt")
    s.type("ab")
    s.keys("Tab")
    s.wait_text("inner?")
    s.type("cd")
    s.keys("Enter")
    s.wait(lambda t: t.rstrip().endswith("outer? abcd"), "the outer edit resumed")
    s.type("e")
    s.keys("Enter")
    s.wait_text('== "abcde"')
    s.keys("Up")                                  # both answers are in the history
    s.wait(lambda t: t.rstrip().endswith(">> abcde"), "the outer answer in the history")
    s.keys("Up")
    s.wait(lambda t: t.rstrip().endswith(">> cd"), "the inner answer in the history")


def signal_case(sig):
    def run(s, home):
        started(s)
        s.type("abc")
        s.wait_text(">> abc")
        os.kill(child_pid(s.pid()), sig)
        s.exit_status()
        assert s.modes_kept(), "terminal modes changed"
    run.__name__ = "signal_%d_restores_modes" % sig
    return run


CASES.append(signal_case(15))
CASES.append(signal_case(1))


def unwritable_home(program):
    def run(s, home):
        s.wait_text("*** Warning: cannot make the console configuration folder")
        started(s)
        s.type("cli-console-ctx/settings/cfg-path")
        s.keys("Enter")
        s.wait_text("== none")
        s.type("q")
        s.keys("Enter")
        assert s.exit_status() == 0
        assert s.screen().count("*** Warning") == 1, s.screen()
    run.__name__ = "unwritable_home_warns_once"
    return run


def main():
    build = sys.argv[1]
    program = os.path.abspath(os.path.join(build, "zir"))
    if not shutil.which("tmux"):
        print("tmux is missing")
        return 1
    failures = 0
    runs = [(fn, None) for fn in CASES] + [(unwritable_home(program), "file")]
    for fn, variant in runs:
        home = tempfile.mkdtemp(prefix="zir-le-")
        try:
            run_home = home
            if variant == "file":
                open(os.path.join(home, "plain"), "w").close()
                run_home = os.path.join(home, "plain", "home")
            args = ""
            if hasattr(fn, "script"):
                args = os.path.join(home, "script.zir")
                with open(args, "w") as f:
                    f.write(fn.script)
            s = Session(program, home, args=args)
            if variant:
                s.close()
                shell = ("stty -g > {d}/before; HOME={h} {p}; echo $? > {d}/status.tmp; stty -g > {d}/after; "
                         "mv {d}/status.tmp {d}/status; sleep 600").format(d=home, h=run_home, p=program)
                s.sock += "b"
                subprocess.run(["tmux", "-L", s.sock, "-f", "/dev/null", "new-session", "-d", "-x", "80",
                                "-y", "24", "sh", "-c", shell], check=True)
            try:
                fn(s, home)
                print("ok   " + getattr(fn, "__name__", "unwritable_home"))
            except AssertionError as e:
                failures += 1
                print("FAIL %s: %s" % (getattr(fn, "__name__", "?"), e))
            finally:
                s.close()
        finally:
            shutil.rmtree(home, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
