% x = octave_language_descent (x0, P, c, alpha, Q, d, beta, n, iterations)
% The same greedy coordinate descent written the way an Octave user would,
% with vector operations: the yardstick the module is timed against.
function x = octave_language_descent (x0, P, c, alpha, Q, d, beta, n, iterations)
  x = x0(:);  c = c(:);  d = d(:);
  Px = P * x;  Qx = Q * x;
  xPx = x' * Px;  xQx = x' * Qx;  cx = c' * x;  dx = d' * x;
  for it = 1:iterations
    N = (0.5 * xPx + cx) + alpha;
    D = (0.5 * xQx + dx) + beta;
    R = N / D;
    gR = (Px + c) ./ D - ((Qx + d) .* R) ./ D;
    [~, k] = max (abs (gR));
    a0 = N;  a1 = Px(k) + c(k);  a2 = 0.5 * P(k,k);
    b0 = D;  b1 = Qx(k) + d(k);  b2 = 0.5 * Q(k,k);
    h = a2 * b1 - a1 * b2;
    g = (a2 * 2) * b0 - (b2 * 2) * a0;
    l = a1 * b0 - a0 * b1;
    m = sqrt (g * g - (h * 4) * l);
    if (h != 0)
      t = [(m - g) / (h * 2), (-g - m) / (h * 2)];
    else
      t = -(l / g) * [1, 1];
    end
    r = ((t .* a2) .* t + t .* a1 + a0) ./ ((t .* b2) .* t + t .* b1 + b0);
    if (r(2) > r(1)) t = t(1); else t = t(2); end
    x(k) = t + x(k);
    xQx = ((2 * t) * Qx(k) + xQx) + (t * t) * Q(k,k);
    xPx = ((2 * t) * Px(k) + xPx) + (t * t) * P(k,k);
    Px = t * P(:,k) + Px;
    Qx = t * Q(:,k) + Qx;
    cx = cx + t * c(k);
    dx = dx + t * d(k);
  end
  x(x == 0) = 1e-100;
end
