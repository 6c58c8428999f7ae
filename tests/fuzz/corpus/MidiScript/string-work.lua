local s = string.rep("ab", 100) for w in s:gmatch("a") do end print(#s, s:upper())
