local r = 0.0
local x = 0.5
local y = 1.5
for i = 1, 3000000 do
    r = r * x + y + i - 0.25
end
print(math.floor(r))
