def main():
    n = 0
    for i in range(1, 20001):
        for j in range(1, 101):
            if j > 50:
                break
            n = n + 1
    print(n)

main()
