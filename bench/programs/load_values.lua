local f = assert(io.open(arg[1], "rb"))
local data = assert(load(f:read("a")))()
f:close()
local count, isum, fsum, slen = 0, 0, 0.0, 0
local function walk(b)
    for _, v in ipairs(b) do
        count = count + 1
        local t = type(v)
        if t == "table" then
            walk(v)
        elseif t == "string" then
            slen = slen + #v
        elseif math.type(v) == "float" then
            fsum = fsum + v
        else
            isum = isum + v
        end
    end
end
walk(data)
print(count .. " " .. isum .. " " .. math.floor(fsum * 4) .. " " .. slen)
