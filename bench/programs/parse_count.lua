-- Lua's patterns have no letter-case option: the text is lowered first.
local f = assert(io.open(arg[1], "rb"))
local text = f:read("a"):lower()
f:close()
local n, at = 0, 1
while true do
    local _, e = text:find("the", at, true)
    if not e then break end
    n = n + 1
    at = e + 1
end
print(n)
