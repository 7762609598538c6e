local total = 0
for r = 0, 19 do
  local parts = {}
  for i = 0, 1999 do parts[#parts + 1] = tostring(i % 10) end
  local s = ""
  for _, p in ipairs(parts) do s = s .. p end
  local n, p = 0, 1
  while true do
    local f = string.find(s, "78", p, true)
    if not f then break end
    n = n + 1; p = f + 1
  end
  total = total + n + #s + #string.sub(s, 11, 20)
end
print("checksum " .. total)
