// placeholder until the text utilities land
