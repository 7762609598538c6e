-- String building and searching.
local total = 0
for i = 0, 200000 - 1 do
  local s = "item" .. i .. ":" .. (i % 97)
  total = total + #s
end
local text = ""
for i = 0, 2000 - 1 do text = text .. "line " .. i .. " alpha beta gamma needle" .. (i % 10) .. "\n" end
local found, possum = 0, 0
for r = 1, 20 do
  local idx = string.find(text, "needle7", 1, true)
  while idx do
    found = found + 1
    possum = (possum + idx - 1) % 1000003
    idx = string.find(text, "needle7", idx + 1, true)
  end
end
print("checksum: " .. total .. " " .. #text .. " " .. found .. " " .. possum)
