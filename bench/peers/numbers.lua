-- The number benchmarks' text work done by Lua 5.4, for the ratios in
-- docs/architecture.md: tostring of integers and floats, tonumber of their
-- texts. Run with lua5.4. Prints one line per case in millions per second.
local VALUES = 4096

local function per_call(f)
  local n = 1
  while true do
    local start = os.clock()
    f(n)
    local elapsed = os.clock() - start
    if elapsed >= 0.5 then return elapsed / n end
    n = n * 2
  end
end

math.randomseed(3)
local ints, floats = {}, {}
for i = 1, VALUES do
  local v = math.random(0, 0xFFFFFFFF) >> math.random(0, 31)
  if v >= 0x80000000 then v = v - 0x100000000 end
  ints[i] = v
  if i % 2 == 0 then
    floats[i] = (math.random(0, 1999999) - 1000000) / 1000.0
  else
    local bits = (math.random(0, math.maxinteger) & 0x3FFFFFFFFFFFFFFF) | 0x3000000000000000
    floats[i] = string.unpack("<d", string.pack("<i8", bits))
  end
end

local function rate(values, convert)
  local k = #values
  return 1 / per_call(function(n)
    for i = 1, n do convert(values[(i - 1) % k + 1]) end
  end) / 1e6
end

local int_texts, float_texts = {}, {}
for i = 1, VALUES do
  int_texts[i] = tostring(ints[i])
  float_texts[i] = string.format("%.17g", floats[i])
end
print(string.format("form integer (tostring): %.1f M/s", rate(ints, tostring)))
print(string.format("form float (tostring): %.1f M/s", rate(floats, tostring)))
print(string.format("to integer! (tonumber): %.1f M/s", rate(int_texts, tonumber)))
print(string.format("to float! (tonumber): %.1f M/s", rate(float_texts, tonumber)))
