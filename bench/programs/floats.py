def main():
    r = 0.0
    x = 0.5
    y = 1.5
    for i in range(1, 3000001):
        r = r * x + y + i - 0.25
    print(int(r))

main()
