import json
import sys

count = 0
isum = 0
fsum = 0.0
slen = 0


def walk(b):
    global count, isum, fsum, slen
    for v in b:
        count += 1
        if isinstance(v, list):
            walk(v)
        elif isinstance(v, str):
            slen += len(v)
        elif isinstance(v, float):
            fsum += v
        else:
            isum += v


def main():
    with open(sys.argv[1]) as f:
        data = json.loads(f.read())
    walk(data)
    print(count, isum, int(fsum * 4), slen)

main()
