requestNRPN(0, 5, function(channel, number, value) setParameter(number, value) end)
