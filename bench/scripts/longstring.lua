-- Building one long string by .. (every step makes a new, longer string) and reading it back.
local s = ""
for i = 0, 10000 - 1 do s = s .. "row " .. (i % 1000) .. ";" end
local sum = 0
for i = 0, #s - 1, 7 do sum = (sum + string.byte(s, i + 1)) % 1000003 end
print("checksum: " .. #s .. " " .. sum)
