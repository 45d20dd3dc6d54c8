local function f(x)
    return x * 2
end
local s = 0
for i = 1, 1000 do
    for j = 1, 1000 do
        s = s + f(j)
    end
end
print(s)
