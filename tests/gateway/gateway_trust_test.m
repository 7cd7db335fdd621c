% What the call reports is true of the x it returns, its stops mean what they
% say, and data the solver cannot use draws a warning: the cases each fault
% was found with.
function gateway_trust_test ()
  % Far minimisers: after Ritz steps, info and r(end) are R, eta and the
  % gradient formed afresh at x, to their rounding; R never undercuts the
  % minimum, and no stream of accepted steps trades rounding back and forth.
  for instance = {{3, 1000, 3000}, {3, 1000, 1e5}, {25, 100, 3000}}
    [n, distance, count] = instance{1}{:};
    [P, c, alpha, Q, d, beta, lambda] = far_problem (1000026, n, distance);
    [x, r, info] = Brelvane (zeros (n, 1), P, c, alpha, Q, d, beta, n, count, "Acceleration", "ritz");
    what = sprintf ("n = %d, distance %d, %d iterations", n, distance, count);
    slack = expect_true_report (x, r, info, P, c, alpha, Q, d, beta, what);
    assert (info.ratio >= lambda - slack, sprintf ("%s: R %.17g, lambda %.17g", what, info.ratio, lambda));
    assert (info.accelerations < 50, sprintf ("%s: %d Ritz steps", what, info.accelerations));
    % The recommended call ends at the minimum, on a residual formed afresh.
    [x, r, info] = Brelvane (zeros (n, 1), P, c, alpha, Q, d, beta, n, 1e6, ...
                             "Acceleration", "ritz", "Tolerance", 1e-6);
    slack = expect_true_report (x, r, info, P, c, alpha, Q, d, beta, [what ", recommended"]);
    assert (info.stop, "tolerance");
    assert (info.residual <= 1e-6);
    assert (abs (info.ratio - lambda) <= 1e-9 * abs (lambda) + slack, what);
  end

  % Far from any stationary point the bordered residual is not small: the
  % tolerance waits for the step to the minimum -10.
  [x, r, info] = Brelvane ([1e4; 0], diag ([-1 1]), [0; 0], -10, eye (2), [0; 0], 1, 2, 100, ...
                           "Tolerance", 1e-6);
  assert (abs (info.ratio + 10) <= 1e-6 * 10, sprintf ("R = %.17g", info.ratio));

  % A P stored as a triangle draws Brelvane:notSymmetric, in the plain call
  % too; the same data made symmetric draws nothing.
  A = [4 1 2; 1 5 3; 2 3 6];
  args = {[1; 1; 1], triu(A), zeros(3, 1), 0, eye(3), zeros(3, 1), 1, 3, 10};
  expect_warning ("Brelvane:notSymmetric", "x = Brelvane (args{:});", args);
  expect_warning ("Brelvane:notSymmetric", "[x, r, info] = Brelvane (args{:}, 'Tolerance', 1e-8);", args);
  args{2} = A;
  expect_warning ("", "[x, r, info] = Brelvane (args{:}, 'Tolerance', 1e-8);", args);

  % R(x0) not finite: a warning that says why; with a tolerance or Ritz
  % steps the call stops at once, without them it runs as it always has.
  n = 4;  Q = eye (n);  z = zeros (n, 1);
  args = {z, diag(1:n), z, 0, Q, z, 0, n, 1e6, "Acceleration", "ritz", "Tolerance", 1e-6};
  text = expect_warning ("Brelvane:ratioNotFinite", "[x, r, info] = Brelvane (args{:});", args);
  assert (! isempty (strfind (text, "D(x0) = 0")), text);
  [x, r, info] = quiet_call (args);
  assert ({info.stop, info.iterations}, {"notFinite", 0});
  expect_warning ("Brelvane:ratioNotFinite", "[x, r, info] = Brelvane (args{1:8}, 20);", args);
  P = diag (1:n);  P(2, 3) = P(3, 2) = NaN;
  args = {ones(n, 1), P, z, 0, Q, z, 0, n, 1e6, "Tolerance", 1e-6};
  text = expect_warning ("Brelvane:ratioNotFinite", "[x, r, info] = Brelvane (args{:});", args);
  assert (! isempty (strfind (text, "NaN")), text);
  [x, r, info] = quiet_call (args);
  assert (info.stop, "notFinite");

  % A tolerance below what rounding lets the residual reach ends 'stalled'
  % within a few sweeps, with a warning; without a tolerance never.
  [K, M] = fem_pencil (20);
  n = rows (K);  z = zeros (n, 1);
  args = {ones(n, 1), K, z, 0, M, z, 0, n, 1e6, "Acceleration", "ritz", "Tolerance", 1e-15};
  expect_warning ("Brelvane:stalled", "[x, r, info] = Brelvane (args{:});", args);
  [x, r, info] = quiet_call (args);
  assert (info.stop, "stalled");
  assert (info.iterations < 300 * n, sprintf ("%d sweeps", info.iterations / n));
  [~, ~, plain] = Brelvane (args{1:8}, info.iterations + 10 * n, "Acceleration", "ritz");
  assert (! strcmp (plain.stop, "stalled"));
  disp ("gateway trust: all assertions passed");
end

% far_ratio's pencil from randn state `state`, as P, c, alpha, Q, d, beta,
% and lambda = min(eig(Pb, Qb)), the minimum of R.
function [P, c, alpha, Q, d, beta, lambda] = far_problem (state, n, distance)
  randn ("state", state);
  [Ps, Qs, Pb, Qb] = far_ratio (n, distance);
  P = Ps(1:n, 1:n);  c = Ps(1:n, n + 1);  alpha = Ps(n + 1, n + 1) / 2;
  Q = Qs(1:n, 1:n);  d = Qs(1:n, n + 1);  beta = Qs(n + 1, n + 1) / 2;
  lambda = min (eig (Pb, Qb));
end

% info.ratio, r(end), info.residual and info.gradient against R, eta and the
% gradient formed afresh at x, each within 2^-44 of the magnitudes it is
% summed from (its rounding is a few units of 2^-53 of them); R's slack.
function slack = expect_true_report (x, r, info, P, c, alpha, Q, d, beta, what)
  gN = P * x + c;  gD = Q * x + d;
  N = x' * P * x / 2 + c' * x + alpha;  D = x' * Q * x / 2 + d' * x + beta;  R = N / D;
  sN = abs (x)' * abs (P) * abs (x) / 2 + abs (c)' * abs (x) + abs (alpha);
  sD = abs (x)' * abs (Q) * abs (x) / 2 + abs (d)' * abs (x) + abs (beta);
  slack = 2^-44 * (sN + abs (R) * sD) / abs (D);
  assert (r(end), info.ratio);
  assert (abs (info.ratio - R) <= slack, sprintf ("%s: R %.17g, formed afresh %.17g", what, info.ratio, R));
  % eta of the bordered pencil at (x, 1), weighted as the module weighs it.
  w = arrayfun (@(j) weight (Q(j, j), P(j, j)), (1:numel (x))');
  wb = weight (2 * beta, 2 * alpha);
  lN = c' * x + 2 * alpha;  lD = d' * x + 2 * beta;
  top = max ([w .* abs(gN - R * gD); wb * abs(lN - R * lD)]);
  bottom = max ([w .* abs(gN); wb * abs(lN)]) + abs (R) * max ([w .* abs(gD); wb * abs(lD)]);
  mN = w .* (abs (P) * abs (x) + abs (c));  mD = w .* (abs (Q) * abs (x) + abs (d));
  etaSlack = 2^-44 * max (mN + abs (R) * mD + slack * w .* abs (gD)) / bottom;
  assert (abs (info.residual - top / bottom) <= etaSlack, ...
          sprintf ("%s: residual %.3g, formed afresh %.3g", what, info.residual, top / bottom));
  gSlack = 2^-44 * max (abs (P) * abs (x) + abs (c) + abs (R) * (abs (Q) * abs (x) + abs (d))) / abs (D) ...
           + slack * max (abs (gD)) / abs (D);
  g = max (abs (gN / D - gD * R / D));
  assert (abs (info.gradient - g) <= gSlack, ...
          sprintf ("%s: gradient %.3g, formed afresh %.3g", what, info.gradient, g));
end

% The power of two w with w^2 q in [1, 4), q = Qjj, or |Pjj| where Qjj is not
% a positive normal number; 1 where neither is.
function w = weight (Qjj, Pjj)
  q = Qjj;
  if (! (q >= realmin && q <= realmax))
    q = abs (Pjj);
  end
  w = 1;
  if (q >= realmin && q <= realmax)
    [~, e] = log2 (q);
    w = 2 ^ -floor ((e - 1) / 2);
  end
end

% Evaluates `call` (which reads `args`) and checks the last warning's
% identifier ("": none); returns its message.
function text = expect_warning (id, call, args)
  lastwarn ("", "");
  evalc (call);
  [text, got] = lastwarn ();
  assert (got, id, sprintf ("%s: warning '%s'", call, got));
end

function [x, r, info] = quiet_call (args)
  state = warning ("off", "all");
  [x, r, info] = Brelvane (args{:});
  warning (state);
end
