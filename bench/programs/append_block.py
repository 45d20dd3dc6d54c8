def main():
    b = []
    for i in range(1, 1000001):
        b.append(i)
    print(len(b))

main()
