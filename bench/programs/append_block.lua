local b = {}
for i = 1, 1000000 do
    b[#b + 1] = i
end
print(#b)
