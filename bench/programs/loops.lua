local s = 0
for i = 1, 10000 do
    for j = 1, 1000 do
        s = s + j
        if s > 999983 then s = s - 999983 end
    end
end
print(s)
