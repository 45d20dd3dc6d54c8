class Obj:
    def __init__(self):
        self.a = 7


def main():
    o = Obj()
    blk = [10, 20, 30]
    s = 0
    for i in range(1, 1000001):
        s = s + o.a + blk[1]
    print(s)

main()
