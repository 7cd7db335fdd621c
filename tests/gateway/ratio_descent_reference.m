% x = ratio_descent_reference (x0, P, c, alpha, Q, d, beta, n, iterations)
% Straightforward greedy coordinate descent on R = N/D, written out from the
% formulas, independently of the module, for comparisons bit for bit. Every
% sum is a scalar loop in index order; P*x at the start is taken through the
% lower triangle, later corrections use whole columns, as the module does.
function x = ratio_descent_reference (x0, P, c, alpha, Q, d, beta, n, iterations)
  n = fix (n);
  iterations = fix (iterations);
  x = x0(1:n)(:);  c = c(1:n)(:);  d = d(1:n)(:);
  P = reshape (P(1:n*n), n, n);  Q = reshape (Q(1:n*n), n, n);
  Px = lower_product (P, x);  xPx = dot_in_order (x, Px);  cx = dot_in_order (x, c);
  Qx = lower_product (Q, x);  xQx = dot_in_order (x, Qx);  dx = dot_in_order (d, x);
  for it = 1:iterations
    N = (0.5 * xPx + cx) + alpha;
    D = (0.5 * xQx + dx) + beta;
    R = N / D;
    gN = Px + c;
    gD = Qx + d;
    gR = gN ./ D - (gD .* R) ./ D;
    k = first_of_largest_magnitude (gR);
    t = step (N, Px(k) + c(k), 0.5 * P(k,k), D, Qx(k) + d(k), 0.5 * Q(k,k));
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

% A*x with A taken as the symmetric matrix of its lower triangle.
function y = lower_product (A, x)
  S = tril (A) + tril (A, -1).';
  y = zeros (size (x));
  for i = 1:numel (x)
    y(i) = dot_in_order (S(i,:), x);
  end
end

function s = dot_in_order (p, q)
  s = 0;
  for i = 1:numel (p)
    s = s + p(i) * q(i);
  end
end

% Strictly greater wins, so ties keep the lowest index and NaN is never taken
% over an earlier entry (max() would skip NaN instead).
function k = first_of_largest_magnitude (v)
  k = 1;
  for i = 2:numel (v)
    if (abs (v(i)) > abs (v(k)))
      k = i;
    end
  end
end

% The stationary point of (a2 t^2 + a1 t + a0) / (b2 t^2 + b1 t + b0) with the
% lower ratio, from the roots of h t^2 + g t + l.
function t = step (a0, a1, a2, b0, b1, b2)
  h = a2 * b1 - a1 * b2;
  g = (a2 * 2) * b0 - (b2 * 2) * a0;
  l = a1 * b0 - a0 * b1;
  discriminant = g * g - (h * 4) * l;
  if (discriminant < 0)
    m = NaN;  % Octave's sqrt would turn complex
  else
    m = sqrt (discriminant);
  end
  if (h != 0)
    t1 = (m - g) / (h * 2);
    t2 = (-g - m) / (h * 2);
  else
    t1 = -(l / g);
    t2 = t1;
  end
  r1 = ((t1 * a2) * t1 + t1 * a1 + a0) / ((t1 * b2) * t1 + t1 * b1 + b0);
  r2 = ((t2 * a2) * t2 + t2 * a1 + a0) / ((t2 * b2) * t2 + t2 * b1 + b0);
  if (r2 > r1)
    t = t1;
  else
    t = t2;
  end
end
