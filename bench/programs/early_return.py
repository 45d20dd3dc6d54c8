def f(x):
    if x > 5:
        return x * 2
    return x

def main():
    s = 0
    for i in range(1, 1001):
        for j in range(1, 1001):
            s = s + f(j)
    print(s)

main()
