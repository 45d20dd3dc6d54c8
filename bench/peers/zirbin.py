# The nested value of bench/zirbin_bench.cpp, serialised by Python's pickle
# (protocol 5, the C implementation): dumps and loads per second.
#   /usr/bin/python3 bench/peers/zirbin.py
import pickle
import random
import time

RECORDS = 2000


def nested():
    rng = random.Random(42)
    top = []
    for i in range(RECORDS):
        name = ("name-" + str(rng.randrange(10000000))).ljust(12, "x")[:12]
        top.append([rng.randrange(1000000), rng.randrange(100000) / 7.0, name, "field" + str(i % 50),
                    [rng.randrange(100) for _ in range(3)], "key" + str(i % 20)])
    return top


def rate(fn, arg):
    n, start = 0, time.perf_counter()
    while time.perf_counter() - start < 2.0:
        fn(arg)
        n += 1
    return (time.perf_counter() - start) / n


value = nested()
data = pickle.dumps(value, protocol=5)
dump = rate(lambda v: pickle.dumps(v, protocol=5), value)
load = rate(pickle.loads, data)
print(f"pickle: {len(data)} bytes; dumps {dump * 1000:.2f} ms ({RECORDS * 10 / dump / 1e6:.1f} M values/s); "
      f"loads {load * 1000:.2f} ms ({RECORDS * 10 / load / 1e6:.1f} M values/s)")
