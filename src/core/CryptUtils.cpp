// filled in by the cipher work
