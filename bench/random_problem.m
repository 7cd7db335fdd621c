% P symmetric Gaussian, Q = G*G'/n + 0.1*I.
function p = random_problem (n, seed)
  randn ("seed", seed);
  A = randn (n);  G = randn (n);
  p = struct ("name", "random pencil", "n", n, "P", (A + A') / 2, "Q", G * G' / n + 0.1 * eye (n));
end
