local o = {a = 7}
local blk = {10, 20, 30}
local s = 0
for i = 1, 1000000 do
    s = s + o.a + blk[2]
end
print(s)
