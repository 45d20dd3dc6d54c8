local f = assert(io.open(arg[1], "rb"))
local text = f:read("a")
f:close()
local lines = {}
for l in text:gmatch("([^\n]*)\n") do lines[#lines + 1] = l end
local n = 0
for _, l in ipairs(lines) do n = n + #l end
print(#lines .. " " .. n)
