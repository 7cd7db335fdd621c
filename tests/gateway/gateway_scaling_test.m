% 'Scaling', 'diagonal' in Octave: the plain descent on the problem rescaled by
% power-of-two weights, mapped back, bit for bit; and the badly scaled Fisher
% problem that it is for.
function gateway_scaling_test ()
  rand ("seed", 11);
  for trial = 1:40
    n = 1 + mod (trial, 9);
    A = rand (n) - 0.5;  P = A + A';
    B = rand (n) - 0.5;  Q = B * B' + eye (n);
    % Units from 2^-30 to 2^30, and now and then a diagonal entry that cannot
    % give a weight (Q_jj <= 0, then P_jj zero too).
    u = 2 .^ round (60 * rand (n, 1) - 30);
    P = P .* (u * u');  Q = Q .* (u * u');
    if (mod (trial, 4) == 0)
      Q(1, 1) = -Q(1, 1);
    end
    if (mod (trial, 8) == 0)
      P(1, 1) = 0;
    end
    x0 = (rand (n, 1) - 0.5) ./ u;  c = (rand (n, 1) - 0.5) .* u;  d = (rand (n, 1) - 0.5) .* u;
    T = 200;
    [x, r, info] = Brelvane (x0, P, c, 0.25, Q, d, 2, n, T, "Scaling", "Diagonal");
    assert (info.scaling, "diagonal");
    w = weights (P, Q);
    S = diag (w);
    [y, ry, infoy] = Brelvane (x0 ./ w, S * P * S, w .* c, 0.25, S * Q * S, w .* d, 2, n, T);
    % Exact zeros come back as 1e-100 from both calls, before and after w.
    mapped = w .* y;
    mapped(y == 1e-100) = 1e-100;
    assert_same_doubles (x, mapped, sprintf ("trial %d: x", trial));
    assert_same_doubles (r, ry, sprintf ("trial %d: r", trial));
    assert_same_doubles (info.gradient, infoy.gradient, sprintf ("trial %d: gradient", trial));
    assert (info.iterations, infoy.iterations);
    % 'none' is the nine-argument call.
    assert_same_doubles (Brelvane (x0, P, c, 0.25, Q, d, 2, n, T, "scaling", "NONE"), ...
                         Brelvane (x0, P, c, 0.25, Q, d, 2, n, T), "scaling none");
  end

  % Fisher discriminant with variables in units from 1e-3 to 1e3.
  n = 50;  m = 500;
  randn ("state", 7);
  X = randn (m, n) + [ones(m/2, 1); zeros(m/2, 1)] * randn (1, n);
  X = X .* 10 .^ linspace (-3, 3, n);
  a = X(1:m/2, :);  b = X(m/2+1:end, :);
  ma = mean (a)';  mb = mean (b)';
  Sw = (a - ma')' * (a - ma') + (b - mb')' * (b - mb');  Sw = (Sw + Sw') / 2;
  P = -(ma - mb) * (ma - mb)';  z = zeros (n, 1);
  lambda = min (eig (P, Sw));
  [~, r] = Brelvane (ones (n, 1), P, z, 0, Sw, z, 0, n, 2000, "Scaling", "diagonal");
  [~, rp] = Brelvane (ones (n, 1), P, z, 0, Sw, z, 0, n, 2000);
  reached = find (abs (r - lambda) <= 1e-10 * abs (lambda), 1) - 1;
  printf ("scaled Fisher: gap 1e-10 after %d iterations; unscaled gap %.1e after 2000\n", ...
          reached, abs (rp(end) - lambda) / abs (lambda));
  assert (! isempty (reached) && reached < 1000);
  assert (abs (rp(end) - lambda) > 1e-4 * abs (lambda));

  assert_brelvane_error ("Brelvane:badOption", 1, {[1;2], eye(2), [0;0], 1, zeros(2), [0;0], 1, 2, 3, "Scaling", "full"});
  assert_brelvane_error ("Brelvane:badOption", 1, {[1;2], eye(2), [0;0], 1, zeros(2), [0;0], 1, 2, 3, "Scaling", 1});
  disp ("gateway scaling: all assertions passed");
end

% w_j = 2^-floor(e/2), e the binary exponent of Q_jj, or of |P_jj| where Q_jj
% is not positive, finite and normal; 1 where neither is.
function w = weights (P, Q)
  q = diag (Q);
  bad = ! (q >= realmin & isfinite (q));
  q(bad) = abs (diag (P)(bad));
  none = ! (q >= realmin & isfinite (q));
  q(none) = 1;
  [~, E] = log2 (q);   % q = f * 2^E, f in [0.5, 1): e = E - 1
  w = pow2 (-floor ((E - 1) / 2));
end
