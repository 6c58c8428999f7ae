-- NRPN control: NRPN number n (0 to 39) sets parameter n. The 14-bit data value (controller 6
-- then 38) is spread over the parameter's whole range, 0 = minimum, 16383 = maximum.
-- Send controller 99 = 0, 98 = n, then 6 = coarse value and 38 = fine value.

requestAllNRPN(function(channel, number, value)
    if number < getNumParameters() then
        local min, max = getParameterMinMax(number)
        setParameter(number, min + (max - min) * value / 16383)
    end
end)
