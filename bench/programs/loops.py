def main():
    s = 0
    for i in range(1, 10001):
        for j in range(1, 1001):
            s = s + j
            if s > 999983:
                s = s - 999983
    print(s)

main()
