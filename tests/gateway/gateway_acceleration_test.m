% 'Acceleration' and 'Tolerance' through the module: a multi-class Fisher
% ratio, whose lowest eigenvalues lie close together, solved to a relative
% residual, at the point the call without the tolerance reaches with that
% count; the tolerance alone stops at a checkpoint with the point of the
% nine-argument call.
function gateway_acceleration_test ()
  randn ("state", 3);
  n = 60;  classes = 6;  m = 4 * n;
  labels = mod ((0:m-1)', classes) + 1;
  X = randn (m, n) * (eye (n) + 0.3 * randn (n) / sqrt (n)) + randn (classes, n)(labels, :) / sqrt (n);
  Sw = zeros (n);  Sb = zeros (n);  mu = mean (X);
  for k = 1:classes
    Xk = X(labels == k, :);  mk = mean (Xk);
    Sw += (Xk - mk)' * (Xk - mk);  Sb += rows (Xk) * (mk - mu)' * (mk - mu);
  end
  P = -(Sb + Sb') / 2;  Q = (Sw + Sw') / 2;  z = zeros (n, 1);  x0 = ones (n, 1);
  lambda = min (eig (P, Q));
  gap = @(x) ((x' * P * x) / (x' * Q * x) - lambda) / abs (lambda);

  [x, r, info] = Brelvane (x0, P, z, 0, Q, z, 0, n, 1e6, "Acceleration", "ritz", "Tolerance", 1e-9);
  assert (info.stop, "tolerance");
  assert (mod (info.iterations, n), 0);
  assert (numel (r), info.iterations + 1);
  assert (info.residual <= 1e-9 && info.accelerations > 0);
  assert_same_doubles (info.ratio, r(end), "info.ratio");
  assert_same_doubles (x, Brelvane (x0, P, z, 0, Q, z, 0, n, info.iterations, "Acceleration", "ritz"), ...
                       "the accelerated call without the tolerance");
  % The residual from the running products, against one formed afresh.
  gN = P * x;  gD = Q * x;  R = (x' * P * x) / (x' * Q * x);
  eta = norm (gN - R * gD, Inf) / (norm (gN, Inf) + abs (R) * norm (gD, Inf));
  assert (abs (eta - info.residual) <= 1e-12);
  assert (gap (x) <= 1e-8, "gap %g at residual %g", gap (x), info.residual);
  % The plain descent, given the same count, is far from there.
  [y, ~, plain] = Brelvane (x0, P, z, 0, Q, z, 0, n, info.iterations);
  assert (gap (y) > 100 * gap (x) && plain.accelerations == 0);

  % Without acceleration a checkpoint only reads: the tolerance stops where
  % the nine-argument call with that count ends.
  [x, r, info] = Brelvane (x0, P, z, 0, Q, z, 0, n, 1e6, "Tolerance", 1e-4);
  assert (info.stop, "tolerance");
  assert (mod (info.iterations, n) == 0 && info.residual <= 1e-4 && numel (r) == info.iterations + 1);
  assert_same_doubles (x, Brelvane (x0, P, z, 0, Q, z, 0, n, info.iterations), "nine-argument call");
  disp ("gateway acceleration: all assertions passed");
end
