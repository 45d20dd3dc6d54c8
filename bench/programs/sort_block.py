def main():
    b = []
    x = 1
    for i in range(1000000):
        x = (x * 1002 + 12345) % 1000003
        b.append(x)
    b.sort()
    s = 0
    for k in range(1000):
        s += b[k * 1000]
    print(b[0], b[-1], s)

main()
