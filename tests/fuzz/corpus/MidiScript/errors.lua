setParameter(99, 1)
