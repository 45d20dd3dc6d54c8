-- The map! and hash! benchmarks' work done by Lua 5.4 tables, for the ratios
-- in docs/architecture.md: 100,000 integer or string keys put into a fresh
-- table, selected back, and found as members. Run with lua5.4.
local KEYS = 100000

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

local kinds = {
  {"integer", function(i) return i * 7919 end},
  {"string", function(i) return "key" .. i end},
}
for _, kind in ipairs(kinds) do
  local name, make = kind[1], kind[2]
  local keys = {}
  for i = 0, KEYS - 1 do keys[i + 1] = make(i) end
  local function put()
    local t = {}
    for i = 1, KEYS do t[keys[i]] = i end
    return t
  end
  local t = per_call(put)
  print(string.format("map put, %s keys: %.1f ms per 100,000 (%.1f ns each)", name, t * 1e3, t / KEYS * 1e9))
  local map = put()
  local probe = {}
  for i = 0, KEYS - 1 do probe[i + 1] = keys[(i * 7) % KEYS + 1] end
  t = per_call(function()
    local v
    for i = 1, KEYS do v = map[probe[i]] end
    return v
  end) / KEYS
  print(string.format("map select, %s keys: %.1f ns", name, t * 1e9))
  local members = {}
  for i = 1, KEYS do members[keys[i]] = true end
  t = per_call(function()
    local v
    for i = 1, KEYS do v = members[probe[i]] ~= nil end
    return v
  end) / KEYS
  print(string.format("hash find, %s values: %.1f ns", name, t * 1e9))
end
