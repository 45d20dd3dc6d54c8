local s = 0
for i = 1, 2000 do
    for j = 1, 1000 do
        s = s + j
    end
end
print(s)
