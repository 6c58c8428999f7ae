setParameter(5, getParameter(5) + 1)
print(getParameter("Wet Level"))
