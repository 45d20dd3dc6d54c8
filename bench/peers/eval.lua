-- The interpreter benchmarks' statements run by Lua 5.4, for the ratios in
-- docs/architecture.md: each statement in a loop with local variables, the
-- cost of the empty loop taken off. Prints nanoseconds per statement.

local function f(p, q) return p + q end

local function run(body, n)
  local source = [[
    local n, a, b, c, d, x, y, z, w, o, blk, f = ...
    local r
    for _ = 1, n do
      ]] .. body .. [[
    end
    return r
  ]]
  local loop = assert(load(source))
  local o = {a = 7}
  local blk = {10, 20, 30}
  local start = os.clock()
  loop(n, 3, 4, 5, 6, 1.5, 2.25, 0.5, 4.0, o, blk, f)
  return os.clock() - start
end

local function best(body, n, rounds)
  local t = math.huge
  for _ = 1, rounds do t = math.min(t, run(body, n)) end
  return t
end

local function per_statement(body)
  local n, rounds = 20000000, 5
  return (best(body, n, rounds) - best("", n, rounds)) / n * 1e9
end

local cases = {
  {"integer arithmetic", "r = a + b * c - d"},
  {"float arithmetic", "r = x * y + z - w"},
  {"function call", "r = f(a, b)"},
  {"word access", "r = a"},
  {"object field", "r = o.a"},
  {"block index", "r = blk[2]"},
}

for _, case in ipairs(cases) do
  print(string.format("%-20s %6.1f ns", case[1], per_statement(case[2])))
end
