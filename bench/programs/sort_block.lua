local b = {}
local x = 1
for i = 1, 1000000 do
    x = (x * 1002 + 12345) % 1000003
    b[i] = x
end
table.sort(b)
local s = 0
for k = 0, 999 do
    s = s + b[k * 1000 + 1]
end
print(b[1] .. " " .. b[#b] .. " " .. s)
