def main():
    n = 0
    for i in range(1, 1000001):
        for j in range(1, 101):
            if j > 5:
                break
            n = n + 1
    print(n)

main()
