local parts = {}
for i = 1, 1270000 do
    parts[i] = "word" .. (i & 1023)
end
local s = table.concat(parts, " ")
local count, n = 0, 0
for w in s:gmatch("%S+") do
    count = count + 1
    n = n + #w
end
print(#s .. " " .. count .. " " .. n)
