import re
import sys


def main():
    with open(sys.argv[1]) as f:
        text = f.read()
    lines = len(re.findall(r"[^\n]*\n", text))
    words = len(re.findall(r"[^ \n]+", text))
    print(len(text), lines, words)

main()
