import re
import sys


def main():
    with open(sys.argv[1]) as f:
        text = f.read()
    lines = re.findall(r"([^\n]*)\n", text)
    n = 0
    for l in lines:
        n = n + len(l)
    print(len(lines), n)

main()
