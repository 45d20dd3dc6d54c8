local function f(x)
    if x > 5 then return x * 2 end
    return x
end
local s = 0
for i = 1, 1000000 do
    s = s + f(i & 255)
end
print(s)
