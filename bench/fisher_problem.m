% 10 classes of 2n samples in all, x = z*M plus the class mean, M = I plus a
% small random mixing: S_b has rank 9, so the 9 lowest eigenvalues of the
% pencil are negative and lie close together.
function p = fisher_problem (n, seed)
  randn ("seed", seed);
  classes = 10;  m = 2 * n;
  labels = mod ((0:m-1)', classes) + 1;
  M = eye (n) + 0.3 * randn (n) / sqrt (n);
  X = randn (m, n) * M + randn (classes, n)(labels, :) / sqrt (n);
  Sw = zeros (n);  Sb = zeros (n);  mu = mean (X);
  for k = 1:classes
    Xk = X(labels == k, :);  mk = mean (Xk);
    Sw += (Xk - mk)' * (Xk - mk);
    Sb += rows (Xk) * (mk - mu)' * (mk - mu);
  end
  p = struct ("name", "Fisher, 10 classes", "n", n, "P", -(Sb + Sb') / 2, "Q", (Sw + Sw') / 2);
end
