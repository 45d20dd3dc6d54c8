def f(x):
    if x > 5:
        return x * 2
    return x

def main():
    s = 0
    for i in range(1, 1000001):
        s = s + f(i & 255)
    print(s)

main()
