-- The parse benchmarks' work done with Lua 5.4 patterns, for the ratios in
-- docs/architecture.md: the same 10 MB of generated prose (the generator of
-- bench/parse_bench.cpp, written again) split into lines and into words
-- (each piece kept in a table), and scanned for the occurrences of a word.
-- Each figure is the median of five runs in CPU time; prints MB/s of input
-- and the count each run found, which must be the same as ours.

local WORDS = {}
for w in ([[the of and to in is was that for it with as his on be at by had are but from or have an they which
one you were her all she there would their we him been has when who will more no if out so said what
up its about into than them can only other new some could time these two may then do first any my now
such like our over man me even most made after also did many before must through back years where much
your way well down should because each just those people how too little state good very make world still
own see men work long get here between both life being under never day same another know while last might
us great old year off come since against go came right used take three]]):gmatch("%a+") do
  WORDS[#WORDS + 1] = w
end

local SIZE = 10000000

local function generate()
  local state = 20240601
  local function rnd(n)
    state = (state * 1103515245 + 12345) & 0x7FFFFFFF
    return (state >> 8) % n
  end
  local lines, total = {}, 0
  while total < SIZE do
    local count = 4 + rnd(12)
    local parts = {}
    for i = 1, count do
      local w = WORDS[rnd(#WORDS) + 1]
      if i == 1 then w = w:sub(1, 1):upper() .. w:sub(2) end
      if i < count and rnd(10) == 0 then w = w .. "," end
      parts[i] = w
    end
    local line = table.concat(parts, " ") .. ".\n"
    lines[#lines + 1] = line
    total = total + #line
  end
  return table.concat(lines)
end

local function timed(work, text)
  local times, result = {}, nil
  for r = 1, 5 do
    local start = os.clock()
    result = work(text)
    times[r] = os.clock() - start
  end
  table.sort(times)
  return times[3], result
end

local function lines_of(t)
  local out = {}
  for l in t:gmatch("([^\n]*)\n") do out[#out + 1] = l end
  return #out
end

local function words_of(t)
  local out = {}
  for w in t:gmatch("%a+") do out[#out + 1] = w end
  return #out
end

local function count_the(t)
  local n = 0
  for _ in t:gmatch("the") do n = n + 1 end
  return n
end

local function count_plain_find(t)
  local n, at = 0, 1
  while true do
    local s, e = t:find("the", at, true)
    if not s then return n end
    n = n + 1
    at = e + 1
  end
end

local text = generate()
local mb = #text / 1e6
print(string.format("%d bytes", #text))
for _, case in ipairs({
  {"lines, gmatch", lines_of},
  {"words, gmatch", words_of},
  {"count 'the', gmatch", count_the},
  {"count 'the', string.find plain", count_plain_find},
}) do
  local seconds, count = timed(case[2], text)
  print(string.format("%-32s %8.1f MB/s %9d", case[1], mb / seconds, count))
end
