local n = 0
for i = 1, 1000000 do
    for j = 1, 100 do
        if j > 5 then break end
        n = n + 1
    end
end
print(n)
