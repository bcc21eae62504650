// not yet written
