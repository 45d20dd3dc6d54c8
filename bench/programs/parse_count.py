import re
import sys


def main():
    with open(sys.argv[1]) as f:
        text = f.read()
    n = 0
    for _ in re.finditer("the", text, re.I):
        n = n + 1
    print(n)

main()
