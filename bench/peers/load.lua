-- The lexer benchmark's peer rows loaded by Lua 5.4's `load` of a table
-- constructor, for the ratios in docs/architecture.md: the same rows as
-- bench/lexer_bench.cpp (an integer, a float, a string and a nested table of
-- two integers each). Prints MB/s. Run with lua5.4.
local TARGET = 10 << 20

local parts, size, r = {"return {"}, 8, 0
while size < TARGET do
  local row = string.format('{%d, %d.5, "text%d", {%d, %d}},\n', r, r, r, r, r + 1)
  parts[#parts + 1] = row
  size = size + #row
  r = r + 1
end
parts[#parts + 1] = "}"
local text = table.concat(parts)

local best
for _ = 1, 5 do
  local start = os.clock()
  local chunk = assert(load(text))
  chunk()
  local elapsed = os.clock() - start
  if not best or elapsed < best then best = elapsed end
end
print(string.format("load of a table constructor, %.1f MB: %.1f MB/s", #text / 1e6, #text / best / 1e6))
