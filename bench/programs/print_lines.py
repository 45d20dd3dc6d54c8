def main():
    for i in range(1, 100001):
        print("line", i)

main()
