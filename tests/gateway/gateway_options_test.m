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
  assert (fieldnames (info), {"iterations"; "stop"; "gradient"; "ratio"; "scaling"; "residual"; "accelerations"; "rises"; "threads"; "sharedIterations"});
  assert (info.rises, 0);
  assert (info.scaling, "none");
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
  % With the scaled choice, the point of the scaled call without the tolerance.
  [xt, ~, it] = Brelvane (x0, P, c, 0.5, Q, d, 2, n, T, "GradientTolerance", 1e-6, "Scaling", "diagonal");
  assert (it.stop, "gradient");
  assert_same_doubles (xt, Brelvane (x0, P, c, 0.5, Q, d, 2, n, it.iterations, "Scaling", "diagonal"), ...
                       "x at the scaled gradient stop");

  % A Rayleigh quotient becomes exactly stationary long before 1e6 iterations:
  % [x, r] has every entry, [x, r, info] ends where the run ended.
  [x, r] = Brelvane (x0, P, zeros (n, 1), 0, Q, zeros (n, 1), 0, n, 1e6);
  assert (size (r), [1e6 + 1, 1]);
  [x, r, info] = Brelvane (x0, P, zeros (n, 1), 0, Q, zeros (n, 1), 0, n, 1e6);
  assert (info.stop, "stationary");
  assert (size (r), [info.iterations + 1, 1]);
  assert (all (r(info.iterations + 1:end) == r(end)));

  % A stall: numerator and denominator nearly proportional along x(1), so the
  % closed-form step rounds to zero at x(1) = -1/3, short of the line's
  % minimum at -0.5 (R would reach -0.04). info shows it: a stationary stop
  % with a gradient far from zero.
  [x, r, info] = Brelvane ([0; 0.3], 2 * eye (2), [1; 0], 0.2, 2 * eye (2), ...
                           [1 + 3 * 2^-52; 0], 1.5, 2, 100);
  assert_same_doubles (x, hex2num (["bfd5555555555555"; "2b2bff2ee48e0530"]), "stalled x");
  assert (info.stop, "stationary");
  assert (info.iterations, 3);
  assert_same_doubles (info.gradient, hex2num ("3fd0fc6b3d440a75"), "gradient at the stall");
  assert_same_doubles (r(end), hex2num ("bf91cf06ada28118"), "ratio at the stall");

  % d = Inf at one coordinate: D = Inf, R = 0, and dR/dx_j is NaN there and 0
  % at the other. Whichever way round, no gradient stop and info.gradient is
  % NaN, with the plain choice and the scaled one.
  for dInf = {[0; Inf], [Inf; 0]}
    for scaling = {"none", "diagonal"}
      [~, r, info] = Brelvane ([1; 1], eye (2), [0; 0], 0, eye (2), dInf{1}, 1, 2, 100, ...
                               "GradientTolerance", 1e-3, "Scaling", scaling{1});
      assert (info.stop, "iterations");
      assert (size (r), [101, 1]);
      assert (isnan (info.gradient));
    end
  end

  % A step to the line's maximum: with D = 1 and N = (x1^2 - x2^2) / 2, the
  % second step takes x2 to the top of its parabola. It is kept, counted in
  % info.rises and reported by the warning Brelvane:rise, which the user can
  % silence, or turn into an error that leaves nothing assigned.
  lastwarn ("", "");
  [x, r, info] = Brelvane ([1;1], [1 0; 0 -1], [0;0], 0, zeros (2), [0;0], 1, 2, 4);
  assert_same_doubles (r, [0; -0.5; 0; 0], "r rising at the second step");  % ends at the stop
  assert (info.stop, "stationary");
  assert (info.rises, 1);
  [message, id] = lastwarn ();
  assert (id, "Brelvane:rise");
  assert (! isempty (strfind (message, "1 of the 3 steps computed raised R by more than rounding")));
  lastwarn ("", "");
  state = warning ("off", "Brelvane:rise");
  x = Brelvane ([1;1], [1 0; 0 -1], [0;0], 0, zeros (2), [0;0], 1, 2, 4);
  warning ("error", "Brelvane:rise");
  assert_brelvane_error ("Brelvane:rise", 3, {[1;1], [1 0; 0 -1], [0;0], 0, zeros(2), [0;0], 1, 2, 4});
  warning (state);
  [~, id] = lastwarn ();
  assert (id, "");

  % Bad options, each before anything is computed.
  good = {[1;2], eye(2), [0;0], 1, zeros(2), [0;0], 1, 2, 3};
  assert_brelvane_error ("Brelvane:nargout", 4, good);
  assert_brelvane_error ("Brelvane:unknownOption", 1, [good, {"RelativeTolerance", 1}]);
  assert_brelvane_error ("Brelvane:unknownOption", 1, [good, {1, 1}]);
  assert_brelvane_error ("Brelvane:unknownOption", 1, [good, {{"GradientTolerance"}, 1}]);
  assert_brelvane_error ("Brelvane:unknownOption", 1, [good, {["Gradient"; "Toleranc"], 1}]);
  assert_brelvane_error ("Brelvane:badOption", 1, [good, {"GradientTolerance"}]);
  for bad = {-1, NaN, Inf, 1i, [1 2], [], "1", true, {1}}
    assert_brelvane_error ("Brelvane:badOption", 1, [good, {"GradientTolerance", bad{1}}]);
    assert_brelvane_error ("Brelvane:badOption", 1, [good, {"Tolerance", bad{1}}]);
  end
  for bad = {"fast", "", 1, {"ritz"}, ["ritz"; "none"]}
    assert_brelvane_error ("Brelvane:badOption", 1, [good, {"Acceleration", bad{1}}]);
  end
  for bad = {0, -1, 1.5, 1025, NaN, [1 2], "many", true, 2i}
    assert_brelvane_error ("Brelvane:badOption", 1, [good, {"Threads", bad{1}}]);
  end
  % Octave puts the function's name in front of the message once.
  message = "";
  try
    Brelvane (good{:}, "Tolerence", 1);
  catch err
    message = err.message;
  end
  assert (message, "Brelvane: Unknown option 'Tolerence' (argument 10): expected 'GradientTolerance', 'Tolerance', 'Scaling', 'Acceleration', 'Display' or 'Threads'.");
  disp ("gateway options: all assertions passed");
end
