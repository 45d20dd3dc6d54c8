local f = assert(io.open(arg[1], "rb"))
local text = f:read("a")
f:close()
local lines, words = 0, 0
for _ in text:gmatch("[^\n]*\n") do lines = lines + 1 end
for _ in text:gmatch("[^ \n]+") do words = words + 1 end
print(#text .. " " .. lines .. " " .. words)
