% Name-value options and the info output in Octave: a tolerance stops where
% the plain call with that count ends, r ends at the returned point, and info
% says why and where the call stopped.
function gateway_options_test ()
  rand ("seed", 5);
  n = 20;
  A = rand (n) - 0.5;  P = A + A';
  B = rand (n) - 0.5;  Q = B * B' + eye (n);
  x0 = rand (n, 1) - 0.5;  c = rand (n, 1) - 0.5;  d = rand (n, 1) - 0.5;
  T = 5000;

  [x, r, info] = Brelvane (x0, P, c, 0.5, Q, d, 2, n, T);
  assert (fieldnames (info), {"iterations"; "stop"; "gradient"; "ratio"});
  assert (info.stop, "iterations");
  assert (info.iterations, T);
  assert_same_doubles (info.ratio, r(end), "ratio = r(end)");
  assert_same_doubles (x, Brelvane (x0, P, c, 0.5, Q, d, 2, n, T), "x with and without info");

  % Tolerances from loose to tight: each stops for the gradient, at the point
  % the nine-argument call with info.iterations reaches.
  for tol = {1e-2, single(1e-4), int8(1), 1e-9}
    [xt, rt, it] = Brelvane (x0, P, c, 0.5, Q, d, 2, n, T, "GradientTolerance", tol{1});
    assert (it.stop, "gradient");
    assert (it.gradient <= double (tol{1}) && it.iterations < T);
    assert (size (rt), [it.iterations + 1, 1]);
    assert_same_doubles (rt, r(1:it.iterations + 1), "r up to the gradient stop");
    assert_same_doubles (xt, Brelvane (x0, P, c, 0.5, Q, d, 2, n, it.iterations), ...
                         "x at the gradient stop");
    % r alone is cut at the same point.
    [~, r2] = Brelvane (x0, P, c, 0.5, Q, d, 2, n, T, "gradienttolerance", tol{1});
    assert_same_doubles (r2, rt, "r without info");
  end

  % A Rayleigh quotient becomes exactly stationary long before 1e6 iterations;
  % r still has every entry.
  [x, r, info] = Brelvane (x0, P, zeros (n, 1), 0, Q, zeros (n, 1), 0, n, 1e6);
  assert (info.stop, "stationary");
  assert (size (r), [1e6 + 1, 1]);
  assert (all (r(info.iterations + 1:end) == r(end)));

  % Bad options, each before anything is computed.
  good = {[1;2], eye(2), [0;0], 1, zeros(2), [0;0], 1, 2, 3};
  assert_brelvane_error ("Brelvane:nargout", 4, good);
  assert_brelvane_error ("Brelvane:unknownOption", 1, [good, {"Tolerance", 1}]);
  assert_brelvane_error ("Brelvane:unknownOption", 1, [good, {1, 1}]);
  assert_brelvane_error ("Brelvane:unknownOption", 1, [good, {{"GradientTolerance"}, 1}]);
  assert_brelvane_error ("Brelvane:unknownOption", 1, [good, {["Gradient"; "Toleranc"], 1}]);
  assert_brelvane_error ("Brelvane:badOption", 1, [good, {"GradientTolerance"}]);
  for bad = {-1, NaN, Inf, 1i, [1 2], [], "1", true, {1}}
    assert_brelvane_error ("Brelvane:badOption", 1, [good, {"GradientTolerance", bad{1}}]);
  end
  % Octave puts the function's name in front of the message once.
  message = "";
  try
    Brelvane (good{:}, "Tolerance", 1);
  catch err
    message = err.message;
  end
  assert (message, "Brelvane: Unknown option 'Tolerance' (argument 10): expected 'GradientTolerance'.");
  disp ("gateway options: all assertions passed");
end
