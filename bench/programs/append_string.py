def main():
    parts = []
    for i in range(1, 1270001):
        parts.append("word" + str(i & 1023))
    s = " ".join(parts)
    words = s.split()
    n = 0
    for w in words:
        n += len(w)
    print(len(s), len(words), n)

main()
