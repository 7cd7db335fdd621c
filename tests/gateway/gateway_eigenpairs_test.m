% BrelvaneEigs in Octave: the pairs against eig, everything info says checked
% against V itself, sigma, warm starts, options as pairs and as a struct, the
% same bits at any thread count, and each bad call with its identifier.
function gateway_eigenpairs_test ()
  randn ("seed", 31);
  n = 80;  A = randn (n);  P = (A + A') / 2;  G = randn (n);  Q = G * G' / n + eye (n);
  e = sort (eig (P, Q));

  for sigma = {"smallestreal", "SA", "largestreal", "la"}
    largest = any (strcmpi (sigma{1}, {"largestreal", "la"}));
    [V, lambda, info] = BrelvaneEigs (P, Q, 4, sigma{1});
    want = e(1:4);
    if largest, want = flipud (e(end-3:end)); end
    assert (lambda, want, 1e-10 * max (abs (e)));
    assert (info.stop, "tolerance");
    assert (V' * Q * V, eye (4), 1e-12);
    % The backward errors are those of V, formed afresh.
    PV = P * V;  QV = Q * V;
    be = sqrt (sum ((PV - QV .* lambda') .^ 2))' ./ ((norm (P, 1) + abs (lambda) * norm (Q, 1)) .* sqrt (sum (V .^ 2))');
    assert (info.backwardError, be, 1e-6 * max (be) + 1e-17);
    assert (all (info.backwardError <= 1e-10));
    assert (lambda, sum (V .* PV)' ./ sum (V .* QV)', 1e-14 * max (abs (e)));
  end

  % k = n, a tolerance of its own, an options struct with a pair after it,
  % and the bits at one and at three threads.
  [V, lambda, info] = BrelvaneEigs (P(1:12, 1:12), Q(1:12, 1:12), 12);
  assert (lambda, sort (eig (P(1:12, 1:12), Q(1:12, 1:12))), 1e-10 * max (abs (e)));
  assert (info.blockSize, 12);
  [V1, l1, i1] = BrelvaneEigs (P, Q, 3, struct ("Tolerance", 1e-3, "threads", 2), "Tolerance", 1e-12, "Threads", 1);
  assert (all (i1.backwardError <= 1e-12));
  [V3, l3] = BrelvaneEigs (P, Q, 3, "Tolerance", 1e-12, "Threads", 3);
  assert (isequal (V1, V3) && isequal (l1, l3), "threads changed the bits");

  % A warm start from the answer stops before the first sweep; MaxIterations
  % caps the sweeps and warns.
  [V, lambda, info] = BrelvaneEigs (P, Q, 3, "StartVectors", V1);
  assert (info.sweeps, 0);
  assert (lambda, l1, 1e-12 * max (abs (e)));
  lastwarn ("");
  [V, lambda, info] = BrelvaneEigs (P, Q, 3, "MaxIterations", 1, "Tolerance", 1e-14);
  [~, id] = lastwarn ();
  assert (id, "Brelvane:notConverged");
  assert (info.stop, "iterations");
  assert (info.sweeps, 1);

  % Display: 'final' prints one line, 'notify' only when the tolerance was not met.
  text = evalc ("BrelvaneEigs (P, Q, 2, 'Display', 'final');");
  assert (strncmp (text, "BrelvaneEigs: 2 pairs", 21), text);
  assert (evalc ("BrelvaneEigs (P, Q, 2, 'Display', 'notify');"), "");
  text = evalc ("BrelvaneEigs (P, Q, 2, 'Display', 'iter');");
  assert (! isempty (strfind (text, "largest backward error")), text);

  % A P stored as one triangle is named in a warning (the block cannot
  % converge on it: that warning is silenced here).
  lastwarn ("");
  state = warning ("off", "Brelvane:notConverged");
  BrelvaneEigs (tril (P), Q, 1, "MaxIterations", 2);
  warning (state);
  [~, id] = lastwarn ();
  assert (id, "Brelvane:notSymmetric");

  % Bad calls, each with its identifier.
  bad = {
    "Brelvane:nargin",              {P, Q}
    "Brelvane:sizeMismatch",        {P, Q(1:10, 1:10), 2}
    "Brelvane:sizeMismatch",        {P(:, 1:10), Q, 2}
    "Brelvane:outOfRange",          {P, Q, 0}
    "Brelvane:outOfRange",          {P, Q, n + 1}
    "Brelvane:outOfRange",          {P, Q, 2.5}
    "Brelvane:badSigma",            {P, Q, 2, "smallestabs"}
    "Brelvane:badSigma",            {P, Q, 2, 0.5}
    "Brelvane:unknownOption",       {P, Q, 2, "Tol", 1e-8}
    "Brelvane:unknownOption",       {P, Q, 2, struct("maxit", 10)}
    "Brelvane:badOption",           {P, Q, 2, "MaxIterations", 2.5}
    "Brelvane:badOption",           {P, Q, 2, "StartVectors", ones(n, 3)}
    "Brelvane:badOption",           {P, Q, 2, "Display", "loud"}
    "Brelvane:badOption",           {P, Q, 2, "Tolerance"}
    "Brelvane:sparse",              {sparse(P), Q, 2}
    "Brelvane:complex",             {P, Q + 1i, 2}
    "Brelvane:notDouble",           {single(P), Q, 2}
    "Brelvane:notFinite",           {[P(1:end-1, :); NaN(1, n)], Q, 2}
    "Brelvane:notPositiveDefinite", {P, -Q, 2}
    "Brelvane:notPositiveDefinite", {eye(3), diag([1 1 -1]), 1}
  };
  for t = 1:rows (bad)
    try
      BrelvaneEigs (bad{t, 2}{:});
      raised = "";
    catch err
      raised = err.identifier;
    end
    assert (strcmp (raised, bad{t, 1}), "case %d: expected %s, got '%s'", t, bad{t, 1}, raised);
  end
  message = "";
  try
    BrelvaneEigs (P, Q, 2, "Tol", 1e-8);
  catch err
    message = err.message;
  end
  assert (! isempty (strfind (message, "use 'Tolerance'")), message);
  % The module still answers after every error.
  assert (abs (BrelvaneEigs (diag ([3 1 2]), eye (3), 1, "sa")' * [0; 1; 0]), 1, 1e-12);
end
