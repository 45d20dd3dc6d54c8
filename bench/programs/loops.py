def main():
    s = 0
    for i in range(1, 2001):
        for j in range(1, 1001):
            s = s + j
    print(s)

main()
