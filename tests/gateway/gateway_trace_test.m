% [x, r] = Brelvane(...): r(1) = R(x0), r(t+1) = R after t iterations, from
% the solver's running scalars; asking for r changes nothing in x.
function gateway_trace_test ()
  rand ("seed", 3);
  for n = [1 4 37]
    A = rand (n) - 0.5;  P = A + A';
    B = rand (n) - 0.5;  Q = (B + B') / n + 2 * eye (n);
    x0 = rand (n, 1) - 0.5;  c = rand (n, 1) - 0.5;  d = rand (n, 1) / n;
    alpha = 0.25;  beta = 1;  T = 30;
    [x, r] = Brelvane (x0, P, c, alpha, Q, d, beta, n, T);
    assert (size (r), [T + 1, 1]);
    assert_same_doubles (x, Brelvane (x0, P, c, alpha, Q, d, beta, n, T), "x with and without r");
    for t = 0:T
      xt = Brelvane (x0, P, c, alpha, Q, d, beta, n, t);
      [fresh, tol] = ratio_and_tolerance (xt, P, c, alpha, Q, d, beta);
      assert (abs (r(t + 1) - fresh) <= tol, "n = %d: r(%d) = %.17g, fresh R = %.17g", ...
              n, t + 1, r(t + 1), fresh);
    end
    % iterations <= 0: R(x0) alone.
    for t = [0 -3 -0.5]
      [x, r] = Brelvane (x0, P, c, alpha, Q, d, beta, n, t);
      assert (size (r), [1, 1]);
      [fresh, tol] = ratio_and_tolerance (x0, P, c, alpha, Q, d, beta);
      assert (abs (r - fresh) <= tol);
    end
  end
  % No coordinates: R stays alpha / beta.
  [x, r] = Brelvane ([], [], [], 3, [], [], 4, 0, 2);
  assert (size (x), [0, 1]);
  assert_same_doubles (r, [0.75; 0.75; 0.75], "empty problem");
  % The worked example: 2.5, then 2, then the minimum.
  [x, r] = Brelvane ([1; 1], diag ([2 4]), [1; 0], 1, eye (2), [0; 0], 1, 2, 2);
  assert_same_doubles (r(1:2), [2.5; 2], "worked example");
  assert (abs (r(3) - (6 - 3 * sqrt (3)) / (3 - sqrt (3))) < 1e-15);
  disp ("gateway trace: all assertions passed");
end

% R(x) recomputed from scratch, and a bound on how far the running scalars
% may have drifted from it: a few n eps of the sizes of N's and D's terms.
function [R, tol] = ratio_and_tolerance (x, P, c, alpha, Q, d, beta)
  N = 0.5 * x' * P * x + c' * x + alpha;
  D = 0.5 * x' * Q * x + d' * x + beta;
  R = N / D;
  scaleN = norm (P) * (x' * x) + abs (c' * x) + norm (c) * norm (x) + abs (alpha);
  scaleD = norm (Q) * (x' * x) + norm (d) * norm (x) + abs (beta);
  tol = 64 * numel (x) * eps * (scaleN + abs (R) * scaleD) / abs (D);
end
