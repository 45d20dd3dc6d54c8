local function f(x)
    return x * 2
end
local s = 0
for i = 1, 1000000 do
    s = s + f(i & 255)
end
print(s)
