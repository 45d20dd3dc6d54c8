def f(x):
    return x * 2

def main():
    s = 0
    for i in range(1, 1000001):
        s = s + f(i & 255)
    print(s)

main()
