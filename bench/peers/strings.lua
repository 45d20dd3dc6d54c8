-- The string benchmarks' work done by Lua 5.4 (plain find, appending), for
-- the ratios in docs/architecture.md. Run with lua5.4.
local LENGTH = 1 << 16

local function haystack()
  math.randomseed(1)
  local t = {}
  for i = 1, LENGTH do t[i] = string.char(97 + math.random(0, 25)) end
  return table.concat(t) .. "needle"
end

local function per_call(f)
  local n = 1
  while true do
    local start = os.clock()
    for _ = 1, n do f() end
    local elapsed = os.clock() - start
    if elapsed >= 0.5 then return elapsed / n end
    n = n * 2
  end
end

local hay = haystack()
local t = per_call(function() return string.find(hay, "needle", 1, true) end)
print(string.format("find, 1-byte text, exact (string.find plain): %.2f G chars/s", LENGTH / t / 1e9))
t = per_call(function() return string.find(string.upper(hay), "NEEDLE", 1, true) end)
print(string.format("find, 1-byte text, folding (upper + find): %.2f G chars/s", LENGTH / t / 1e9))

t = per_call(function()
  local parts = {}
  for i = 1, 100000 do parts[i] = "0123456789" end
  return table.concat(parts)
end) / 100000
print(string.format("append a 10-character string (table.concat): %.1f ns", t * 1e9))
